#pragma once

#include <filesystem>

namespace pellamark {

// The program's own folder in the configuration folder: the profile and the lock are there.
inline constexpr const char* ProgramFolderName = "pellamark";

// Linux: the user's configuration folder, ${XDG_CONFIG_HOME:-$HOME/.config}, from the environment
// as given. Everything of the user's that the program keeps (the profile, the single-instance
// lock, the autostart entry) lives below it.
std::filesystem::path userConfigFolder(const char* xdgConfigHome, const char* home);
// The same from this process's environment, with the home folder from the user database when
// HOME is not usable.
std::filesystem::path currentUserConfigFolder();

} // namespace pellamark
