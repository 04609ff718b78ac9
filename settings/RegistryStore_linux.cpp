// Linux: the current user's registry is a file in the configuration folder, its Run key the
// autostart folder beside it.
#include "settings/FileRegistryStore.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace pellamark {

namespace fs = std::filesystem;

UserRegistryLocations userRegistryLocations(const char* xdgConfigHome, const char* home) {
    fs::path config;
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') {
        config = xdgConfigHome;
    } else {
        config = fs::path(home != nullptr ? home : "") / ".config";
    }
    return {config / "pellamark" / "user.reg", config / "autostart"};
}

UserRegistryLocations currentUserRegistryLocations() {
    const char* home = std::getenv("HOME");
    std::string fallbackHome;
    if (home == nullptr || home[0] != '/') {
        // No usable HOME: ask the user database, as a login shell would.
        fallbackHome = "/";
        if (auto* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) {
            fallbackHome = entry->pw_dir;
        }
        home = fallbackHome.c_str();
    }
    return userRegistryLocations(std::getenv("XDG_CONFIG_HOME"), home);
}

std::unique_ptr<RegistryStore> makeUserRegistryStore() {
    const auto locations = currentUserRegistryLocations();
    return std::make_unique<FileRegistryStore>(locations.registryFile, locations.autostartFolder);
}

} // namespace pellamark
