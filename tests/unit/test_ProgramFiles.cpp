#include "TempDir.h"
#include "base/BuildConfig.h"
#include "system/ExecutableInfo.h"
#include "system/ProgramFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using namespace pellamark;
using pellamark::testing::TempDir;
using pellamark::testing::writeFile;
namespace fs = std::filesystem;

namespace {

// A program in <prefix>/bin, with the files it ships beside it (the build tree), in the installed
// layout below the same prefix, in both, or nowhere.
TEST(ProgramFiles, BesideTheProgramFirstThenTheInstalledLayout) {
    struct Case {
        const char* name;
        ProgramFile kind;
        bool beside;
        bool installed;
    };
    const Case cases[] = {
        {"data beside", ProgramFile::Data, true, false},
        {"data installed", ProgramFile::Data, false, true},
        {"data in both", ProgramFile::Data, true, true},
        {"data nowhere", ProgramFile::Data, false, false},
        {"module beside", ProgramFile::Module, true, false},
        {"module installed", ProgramFile::Module, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir prefix;
        const fs::path program = prefix / "bin";
        fs::create_directories(program);
        const std::string_view folder = c.kind == ProgramFile::Data ? config::InstalledDataFolder
                                                                    : config::InstalledModuleFolder;
        const fs::path installed = (program / std::string(folder) / "file.x").lexically_normal();
        // The installed folder lies below the prefix, never beside the program.
        EXPECT_EQ(installed.string().rfind(prefix.path().string(), 0), 0u);
        EXPECT_NE(installed.parent_path(), program);
        if (c.beside) {
            writeFile(program / "file.x", "beside");
        }
        if (c.installed) {
            fs::create_directories(installed.parent_path());
            writeFile(installed, "installed");
        }
        EXPECT_EQ(findProgramFile(program, c.kind, "file.x"),
                  c.beside ? program / "file.x" : installed);
    }
}

// The path an autostart entry records for the running program. After a package upgrade the
// kernel reports the replaced file as "<path> (deleted)"; the entry must name <path>, where the
// new version lies, or the next logon starts nothing.
TEST(ProgramFiles, TheRunningProgramIsNamedByTheFileItWasStartedFrom) {
    struct Case {
        const char* name;
        const char* link;     // what /proc/self/exe reads, below the prefix
        const char* existing; // a file present below the prefix, or nullptr
        const char* expected; // the recorded path, below the prefix
    };
    const Case cases[] = {
        {"build tree", "/src/build/app/pellamark", "/src/build/app/pellamark",
         "/src/build/app/pellamark"},
        {"replaced by an upgrade", "/usr/bin/pellamark (deleted)", "/usr/bin/pellamark",
         "/usr/bin/pellamark"},
        {"removed", "/usr/bin/pellamark (deleted)", nullptr, "/usr/bin/pellamark"},
        {"really named so", "/opt/pellamark (deleted)", "/opt/pellamark (deleted)",
         "/opt/pellamark (deleted)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir prefix;
        const std::string root = prefix.path().string();
        if (c.existing != nullptr) {
            fs::create_directories(fs::path(root + c.existing).parent_path());
            writeFile(root + c.existing, "program");
        }
        const ExecutableInfo info = executableFromLink(root + c.link);
        EXPECT_EQ(info.fullPath, root + c.expected);
        EXPECT_EQ(info.folder, fs::path(root + c.expected).parent_path().string());
        EXPECT_EQ(info.fileNameWithoutExtension, fs::path(c.expected).stem().string());
    }
}

} // namespace
