// Linux: the current user's registry is a file in the configuration folder, its Run key the
// autostart folder beside it.
#include "settings/FileRegistryStore.h"
#include "system/UserFolders.h"

namespace pellamark {

UserRegistryLocations userRegistryLocations(const char* xdgConfigHome, const char* home) {
    const std::filesystem::path config = userConfigFolder(xdgConfigHome, home);
    return {config / ProgramFolderName / "user.reg", config / "autostart"};
}

UserRegistryLocations currentUserRegistryLocations() {
    const std::filesystem::path config = currentUserConfigFolder();
    return {config / ProgramFolderName / "user.reg", config / "autostart"};
}

std::unique_ptr<RegistryStore> makeUserRegistryStore() {
    const auto locations = currentUserRegistryLocations();
    return std::make_unique<FileRegistryStore>(locations.registryFile, locations.autostartFolder);
}

} // namespace pellamark
