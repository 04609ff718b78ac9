// The Run key of the file store, kept as autostart entries.
#include "StoreTest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

using namespace pellamark;
using pellamark::testing::readFile;
using pellamark::testing::StoreTest;
using pellamark::testing::sz;
using pellamark::testing::writeFile;
namespace fs = std::filesystem;

namespace {
const std::string RunKeyText = RunKey;
} // namespace

TEST_F(StoreTest, RunValuesAreAutostartEntries) {
    const std::vector<std::string> commands = {
        "/opt/pellamark/Pellamark",
        "/home/u/My Programs/Pellamark",
        "/home/u/\"quoted\"/it's/Pellamark",
        "/home/u/$HOME/100%/Pellamark",
        "/home/u/back\\slash/tick`/Pellamark",
        "/home/u/ünïcødé/Ωμέγα/Pellamark",
        "/home/u/a;b&c|d<e>f*g?h#i(j)~k/Pellamark",
        "/home/u/%f %%/=x/Pellamark",
    };
    const bool validatorPresent = ::access("/usr/bin/desktop-file-validate", X_OK) == 0;
    auto store = makeStore();
    RegHandle run = 0;
    ASSERT_EQ(store.openKey(HKEY_CURRENT_USER_, RunKeyText, run), 0);
    for (const auto& command : commands) {
        SCOPED_TRACE(command);
        ASSERT_EQ(store.setValue(run, "Pellamark", REG_SZ_, sz(command).data(),
                                 static_cast<std::uint32_t>(command.size() + 1)),
                  0);
        const fs::path entry = autostart() / "Pellamark.desktop";
        ASSERT_TRUE(fs::exists(entry));
        EXPECT_EQ(fs::status(entry).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(get(store, RunKeyText, "pellamark")->second, sz(command));
        if (validatorPresent) {
            const std::string cmd = "/usr/bin/desktop-file-validate '" + entry.string() + "' 2>&1";
            std::string output;
            FILE* pipe = ::popen(cmd.c_str(), "r");
            ASSERT_NE(pipe, nullptr);
            char buffer[512];
            while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
                output += buffer;
            }
            EXPECT_EQ(::pclose(pipe), 0) << output << readFile(entry);
            EXPECT_EQ(output.find("error"), std::string::npos) << output << readFile(entry);
        }
    }
    EXPECT_EQ(fs::status(autostart()).permissions() & fs::perms::all, fs::perms::owner_all);

    // Another spelling names the same entry and keeps its file.
    const std::string other = "/usr/bin/other";
    ASSERT_EQ(store.setValue(run, "PELLAMARK", REG_SZ_, sz(other).data(), 15), 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(autostart()), fs::directory_iterator()), 1);
    EXPECT_EQ(store.deleteValue(run, "pellaMARK"), 0);
    EXPECT_FALSE(fs::exists(autostart() / "Pellamark.desktop"));
    EXPECT_EQ(store.deleteValue(run, "Pellamark"), regcode::FileNotFound);
    std::uint32_t type = 0, size = 0;
    EXPECT_EQ(store.queryValue(run, "Pellamark", type, nullptr, size), regcode::FileNotFound);

    // Nothing but text goes there, and no name may leave the folder.
    const std::uint8_t dword[4] = {1, 0, 0, 0};
    EXPECT_EQ(store.setValue(run, "Pellamark", REG_DWORD_, dword, 4), regcode::InvalidParameter);
    for (const std::string& name :
         std::vector<std::string>{"", ".", "..", "../evil", "a/b", std::string("a\0b", 3)}) {
        EXPECT_EQ(store.setValue(run, name, REG_SZ_, sz("/x").data(), 3), regcode::InvalidParameter)
            << name;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(autostart()), fs::directory_iterator()), 0);
    EXPECT_FALSE(fs::exists(dir / "cfg" / "evil.desktop"));
    EXPECT_FALSE(fs::exists(file())); // the Run key never touches the registry file
    store.closeKey(run);
}

TEST_F(StoreTest, HiddenAutostartEntriesCountAsDeleted) {
    fs::create_directories(autostart());
    writeFile(autostart() / "Off.desktop",
              "[Desktop Entry]\nType=Application\nName=Off\nExec=/bin/off\nHidden=true\n");
    writeFile(autostart() / "On.desktop",
              "[Desktop Entry]\nType=Application\nName=On\nExec=\"/bin/o n\" --flag %%U\n");
    auto store = makeStore();
    EXPECT_FALSE(get(store, RunKeyText, "Off"));
    EXPECT_EQ(get(store, RunKeyText, "on")->second, sz("/bin/o n --flag %U"));
}
