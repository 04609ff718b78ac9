#include "system/UserFolders.h"

#include <cstdlib>
#include <string>

#include <pwd.h>
#include <unistd.h>

namespace pellamark {

std::filesystem::path userConfigFolder(const char* xdgConfigHome, const char* home) {
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/')
        return xdgConfigHome;
    return std::filesystem::path(home != nullptr ? home : "") / ".config";
}

std::filesystem::path currentUserConfigFolder() {
    const char* home = std::getenv("HOME");
    std::string fallbackHome;
    if (home == nullptr || home[0] != '/') {
        // No usable HOME: ask the user database, as a login shell would.
        fallbackHome = "/";
        if (auto* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr)
            fallbackHome = entry->pw_dir;
        home = fallbackHome.c_str();
    }
    return userConfigFolder(std::getenv("XDG_CONFIG_HOME"), home);
}

} // namespace pellamark
