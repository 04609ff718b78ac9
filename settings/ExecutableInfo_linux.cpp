#include "settings/ExecutableInfo.h"

#include <filesystem>
#include <system_error>

namespace pellamark {

ExecutableInfo currentExecutable() {
    std::error_code error;
    const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    ExecutableInfo info;
    if (error) {
        info.fileNameWithoutExtension = "pellamark";
        return info;
    }
    info.fullPath = path.string();
    info.folder = path.parent_path().string();
    info.fileNameWithoutExtension = path.stem().string();
    return info;
}

} // namespace pellamark
