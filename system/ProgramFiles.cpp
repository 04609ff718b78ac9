#include "system/ProgramFiles.h"

#include "base/BuildConfig.h"

#include <string>
#include <system_error>

namespace pellamark {

namespace fs = std::filesystem;

fs::path findProgramFile(const fs::path& programFolder, ProgramFile kind, std::string_view name) {
    const fs::path file{std::string(name)};
    const fs::path beside = programFolder / file;
    std::error_code error;
    if (fs::is_regular_file(beside, error)) {
        return beside;
    }
    const fs::path installed{std::string(
        kind == ProgramFile::Data ? config::InstalledDataFolder : config::InstalledModuleFolder)};
    return (programFolder / installed / file).lexically_normal();
}

} // namespace pellamark
