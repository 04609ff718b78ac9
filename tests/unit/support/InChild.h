#pragma once

#include <functional>
#include <optional>
#include <string>

namespace pellamark::testing {

// How the child of runInChild is set up before it runs its body.
struct ChildSetup {
    // Permission bits hold for this process even when it runs as root: root's child goes into a
    // new user namespace, where its override no longer reaches the files it owns outside it.
    bool permissionsHold = false;
    // Writes beyond this many bytes fail as on a full disk (EFBIG).
    long fileSizeLimit = -1;
    // A network of its own with nothing in it but the loopback interface, which the child can take
    // down and up (setLoopbackUp): while it is down, name lookups fail and connections find no
    // route.
    bool ownNetwork = false;
};

// Takes the loopback interface of the calling process's network up or down; false if it could not.
bool setLoopbackUp(bool up);

// Runs `body` in a forked child process set up as asked and returns the text it returned; nullopt
// when the child could not be set up so (no user namespaces here, say) or did not end normally.
// The caller must have no threads of its own running.
std::optional<std::string> runInChild(const std::function<std::string()>& body, ChildSetup setup);

} // namespace pellamark::testing
