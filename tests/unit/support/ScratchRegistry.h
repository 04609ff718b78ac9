#pragma once

#include "settings/RegistryStore.h"

#include <memory>
#include <string>

namespace pellamark::testing {

// The current user's registry as the program sees it on this platform, fresh and empty for one
// test and thrown away with it. On Linux the file store in a temporary folder; on Windows the
// advapi32 store with HKEY_CURRENT_USER pointed at a temporary key of the real registry for the
// life of the object (one at a time per process).
class ScratchRegistry {
public:
    ScratchRegistry();
    ~ScratchRegistry();
    ScratchRegistry(const ScratchRegistry&) = delete;
    ScratchRegistry& operator=(const ScratchRegistry&) = delete;

    RegistryStore& store() { return *m_store; }

    // Everything stored, as the platform keeps it, for before-and-after comparisons: the registry
    // file and the autostart entries on Linux, an export of the temporary key on Windows. Empty
    // while nothing has been written.
    std::string snapshot() const;

    // Whether the platform's list of programs started at logon has an entry of that name.
    bool startsAtLogon(const std::string& name) const;

private:
    struct Place;
    std::unique_ptr<Place> m_place;
    std::unique_ptr<RegistryStore> m_store;
};

} // namespace pellamark::testing
