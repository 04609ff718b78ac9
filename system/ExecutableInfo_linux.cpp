#include "system/ExecutableInfo.h"

#include <filesystem>
#include <string_view>
#include <system_error>

namespace pellamark {

namespace fs = std::filesystem;

ExecutableInfo executableFromLink(const fs::path& linkTarget) {
    // The kernel marks a running program whose file has been replaced (a package upgrade) or
    // removed with this ending. The program's path is what was replaced, and where its new
    // version lies: that is what an autostart entry must name.
    constexpr std::string_view replaced = " (deleted)";
    std::string path = linkTarget.string();
    std::error_code error;
    if (path.ends_with(replaced) && !fs::is_regular_file(linkTarget, error))
        path.resize(path.size() - replaced.size());
    const fs::path program(path);
    ExecutableInfo info;
    info.fullPath = program.string();
    info.folder = program.parent_path().string();
    info.fileNameWithoutExtension = program.stem().string();
    return info;
}

ExecutableInfo currentExecutable() {
    std::error_code error;
    const fs::path path = fs::read_symlink("/proc/self/exe", error);
    if (error) {
        ExecutableInfo info;
        info.fileNameWithoutExtension = "pellamark";
        return info;
    }
    return executableFromLink(path);
}

} // namespace pellamark
