#pragma once

#include <string>

namespace pellamark {

// Holds the per-user "program is running" lock for the life of the process. The operating
// system releases it when the process ends in any way, so a crash leaves nothing stale behind.
class SingleInstance {
public:
    enum class Result {
        First,          // this copy holds the lock
        AlreadyRunning, // another copy of this user's program holds it
        Unchecked,      // no safe place for the lock: run rather than refuse to start
    };

    SingleInstance() = default;
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the current user's lock without waiting. On Linux it is the file pellamark.lock
    // beside the user's profile (${XDG_CONFIG_HOME:-~/.config}/pellamark), a folder only the
    // user can write: every copy that works on that profile takes the same file, whatever else
    // its environment holds. On Windows it is a mutex of the logon session.
    Result acquire();
    // The same, with the lock's folder given (Linux; made, private, when missing). A folder that
    // is not the user's own, or that others may write to, leaves the copy Unchecked.
    Result acquire(const std::string& folder);

private:
    long long m_handle = -1;
};

} // namespace pellamark
