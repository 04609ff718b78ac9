#include "StoreTest.h"
#include "settings/FileRegistryStore.h"
#include "settings/Profile.h"
#include "settings/RegFileFormat.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <ostream>
#include <random>
#include <set>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace pellamark;
using pellamark::testing::bytesOf;
using pellamark::testing::readFile;
using pellamark::testing::StoreTest;
using pellamark::testing::sz;
using pellamark::testing::writeFile;
namespace fs = std::filesystem;

namespace {

const std::string ProfileKeyText = ProfileKey;
const std::string RunKeyText = RunKey;

constexpr std::string_view GoodFile = "Windows Registry Editor Version 5.00\n"
                                      "\n"
                                      "[HKEY_CURRENT_USER\\Software\\Quellworks\\Pellamark]\n"
                                      "\"UserId\"=\"abcde0123456789\"\n"
                                      "\"PubId\"=dword:00000002\n";

} // namespace

// ---- the file format as the store writes it ----

TEST_F(StoreTest, WritesTheExportFormatExactly) {
    auto store = makeStore();
    ASSERT_EQ(set(store, ProfileKeyText, "UserId", REG_SZ_, sz("abcde0123456789")), 0);
    ASSERT_EQ(set(store, ProfileKeyText, "PubId", REG_DWORD_, {0x02, 0, 0, 0}), 0);
    ASSERT_EQ(set(store, ProfileKeyText, "Path", REG_SZ_, sz("C:\\dir \"q\" ünï")), 0);
    ASSERT_EQ(set(store, ProfileKeyText, "", REG_SZ_, sz("default")), 0);
    ASSERT_EQ(set(store, ProfileKeyText, "Blob", REG_BINARY_, {0xde, 0xad}), 0);
    ASSERT_EQ(set(store, ProfileKeyText, "Two\"Nul", REG_SZ_, {'a', 0, 'b', 0}), 0);
    ASSERT_EQ(set(store, ProfileKeyText, "NoNul", REG_SZ_, bytesOf("ab")), 0);
    ASSERT_EQ(set(store, ProfileKeyText, "Lines", REG_SZ_, sz("a\nb")), 0);
    ASSERT_EQ(set(store, ProfileKeyText, "Neg", REG_DWORD_, {0xff, 0xff, 0xff, 0xff}), 0);
    ASSERT_EQ(set(store, ProfileKeyText, "Multi", 7, {'x', 0, 0}), 0);
    ASSERT_EQ(set(store, ProfileKeyText, "Empty", REG_BINARY_, {}), 0);
    RegHandle key = 0;
    ASSERT_EQ(store.createKey(HKEY_CURRENT_USER_, "Software\\Empty Key", key), 0);
    store.closeKey(key);

    EXPECT_EQ(readFile(file()), "Windows Registry Editor Version 5.00\n"
                                "\n"
                                // Software exists already: the Run key below it always does.
                                "[HKEY_CURRENT_USER\\Software\\Quellworks]\n"
                                "\n"
                                "[HKEY_CURRENT_USER\\Software\\Quellworks\\Pellamark]\n"
                                "\"UserId\"=\"abcde0123456789\"\n"
                                "\"PubId\"=dword:00000002\n"
                                "\"Path\"=\"C:\\\\dir \\\"q\\\" ünï\"\n"
                                "@=\"default\"\n"
                                "\"Blob\"=hex:de,ad\n"
                                "\"Two\\\"Nul\"=hex(1):61,00,62,00\n"
                                "\"NoNul\"=hex(1):61,62\n"
                                "\"Lines\"=hex(1):61,0a,62,00\n"
                                "\"Neg\"=dword:ffffffff\n"
                                "\"Multi\"=hex(7):78,00,00\n"
                                "\"Empty\"=hex:\n"
                                "\n"
                                "[HKEY_CURRENT_USER\\Software\\Empty Key]\n");

    // And every value reads back as written, from a fresh store.
    auto again = makeStore();
    EXPECT_EQ(get(again, ProfileKeyText, "path")->second, sz("C:\\dir \"q\" ünï"));
    EXPECT_EQ(get(again, ProfileKeyText, "two\"nul")->second,
              (std::vector<std::uint8_t>{'a', 0, 'b', 0}));
    EXPECT_EQ(get(again, ProfileKeyText, "NoNul")->second, bytesOf("ab"));
    EXPECT_EQ(get(again, ProfileKeyText, "Multi")->first, 7u);
    EXPECT_EQ(get(again, ProfileKeyText, "")->second, sz("default"));
    EXPECT_EQ(get(again, ProfileKeyText, "Empty")->second.size(), 0u);
}

TEST_F(StoreTest, ForeignTypesSurviveWritesByteForByte) {
    const std::string foreign = "Windows Registry Editor Version 5.00\r\n"
                                "\r\n"
                                "; written by another program\r\n"
                                "[HKEY_CURRENT_USER\\Software\\Quellworks\\Pellamark]\r\n"
                                "\"Expand\"=hex(2):25,00,50,00,41,00,54,00,48,00,25,00,00,00\r\n"
                                "\"Multi\"=hex(7):61,00,00,62,00,00,00\r\n"
                                "\"Qword\"=hex(b):01,02,03,04,05,06,07,08\r\n"
                                "\"Bin\"=hex:00,ff,10,\\\r\n"
                                "  20,30\r\n"
                                "\"OddDword\"=hex(4):01,02,03\r\n"
                                "\"Huge\"=hex(ffffffff):aa\r\n";
    fs::create_directories(file().parent_path());
    writeFile(file(), foreign);
    const struct {
        const char* name;
        std::uint32_t type;
        std::vector<std::uint8_t> data;
    } expected[] = {
        {"Expand", 2, {0x25, 0, 0x50, 0, 0x41, 0, 0x54, 0, 0x48, 0, 0x25, 0, 0, 0}},
        {"Multi", 7, {0x61, 0, 0, 0x62, 0, 0, 0}},
        {"Qword", 0xb, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"Bin", 3, {0, 0xff, 0x10, 0x20, 0x30}},
        {"OddDword", 4, {1, 2, 3}},
        {"Huge", 0xffffffffu, {0xaa}},
    };

    auto store = makeStore();
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(set(store, ProfileKeyText, "Counter", REG_DWORD_,
                      {static_cast<std::uint8_t>(round), 0, 0, 0}),
                  0);
        auto fresh = makeStore();
        for (const auto& value : expected) {
            SCOPED_TRACE(value.name);
            const auto got = get(fresh, ProfileKeyText, value.name);
            ASSERT_TRUE(got);
            EXPECT_EQ(got->first, value.type);
            EXPECT_EQ(got->second, value.data);
        }
    }
    EXPECT_NE(readFile(file()).find("\"OddDword\"=hex(4):01,02,03\n"), std::string::npos);
}

// ---- the store calls ----

TEST_F(StoreTest, FollowsTheRegistryCallConventions) {
    auto store = makeStore();
    ASSERT_EQ(set(store, ProfileKeyText, "Name", REG_SZ_, sz("abc")), 0);

    RegHandle key = 12345;
    EXPECT_EQ(store.openKey(HKEY_CURRENT_USER_, "Software\\Missing", key), regcode::FileNotFound);
    EXPECT_EQ(key, 12345u);
    EXPECT_EQ(store.openKey(0x80000002u, "Software", key), regcode::InvalidHandle);
    EXPECT_EQ(store.closeKey(0), regcode::InvalidHandle);
    EXPECT_EQ(store.closeKey(777), regcode::InvalidHandle);

    ASSERT_EQ(store.openKey(HKEY_CURRENT_USER_, "software\\QUELLWORKS\\pellamark", key), 0);
    EXPECT_NE(key, 0u);
    std::uint32_t type = 99, size = 0;
    EXPECT_EQ(store.queryValue(key, "Missing", type, nullptr, size), regcode::FileNotFound);
    EXPECT_EQ(type, 99u);
    EXPECT_EQ(store.queryValue(key, "NAME", type, nullptr, size), 0);
    EXPECT_EQ(type, REG_SZ_);
    EXPECT_EQ(size, 4u);
    std::uint8_t small[2] = {7, 7};
    size = 2;
    EXPECT_EQ(store.queryValue(key, "Name", type, small, size), regcode::MoreData);
    EXPECT_EQ(size, 4u);
    std::uint8_t exact[4] = {};
    EXPECT_EQ(store.queryValue(key, "Name", type, exact, size), 0);
    EXPECT_EQ(std::memcmp(exact, "abc", 4), 0);
    EXPECT_EQ(store.deleteValue(key, "Missing"), regcode::FileNotFound);
    EXPECT_EQ(store.deleteValue(key, "nAmE"), 0);
    EXPECT_EQ(store.queryValue(key, "Name", type, nullptr, size), regcode::FileNotFound);

    // A handle can be a root for the next call, like any registry key.
    RegHandle child = 0;
    EXPECT_EQ(store.createKey(key, "Child", child), 0);
    EXPECT_TRUE(keyExists(*parseRegFile(readFile(file())), ProfileKeyText + "\\Child"));
    EXPECT_EQ(store.closeKey(child), 0);
    EXPECT_EQ(store.closeKey(key), 0);
    EXPECT_EQ(store.closeKey(key), regcode::InvalidHandle);
    EXPECT_EQ(store.queryValue(key, "Name", type, nullptr, size), regcode::InvalidHandle);

    // The root itself holds values too.
    const std::uint8_t one[4] = {1, 0, 0, 0};
    EXPECT_EQ(store.setValue(HKEY_CURRENT_USER_, "AtRoot", REG_DWORD_, one, 4), 0);
    EXPECT_EQ(get(store, "", "atroot")->second, (std::vector<std::uint8_t>{1, 0, 0, 0}));
    EXPECT_NE(readFile(file()).find("[HKEY_CURRENT_USER]\n\"AtRoot\"=dword:00000001\n"),
              std::string::npos);
    EXPECT_EQ(store.closeKey(HKEY_CURRENT_USER_), 0);
}

TEST_F(StoreTest, KeepsTheSpellingOfTheFirstWrite) {
    auto store = makeStore();
    ASSERT_EQ(set(store, "Software\\ÄBC", "StartUp", REG_DWORD_, {1, 0, 0, 0}), 0);
    ASSERT_EQ(set(store, "SOFTWARE\\äbc", "STARTUP", REG_DWORD_, {0, 0, 0, 0}), 0);
    const std::string text = readFile(file());
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\ÄBC]\n\"StartUp\"=dword:00000000"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("STARTUP"), std::string::npos);
}

TEST_F(StoreTest, RefusesNamesTheFileCannotHold) {
    auto store = makeStore();
    RegHandle key = 0;
    for (const std::string& path :
         std::vector<std::string>{"A\\\\B", "\\A", "A\\", std::string("A\nB"), "\xFF"}) {
        EXPECT_EQ(store.createKey(HKEY_CURRENT_USER_, path, key), regcode::InvalidParameter)
            << path;
    }
    ASSERT_EQ(store.createKey(HKEY_CURRENT_USER_, "Software", key), 0);
    for (const std::string& name :
         std::vector<std::string>{std::string("a\nb"), std::string("a\0b", 3), "\xC3"}) {
        EXPECT_EQ(store.setValue(key, name, REG_SZ_, nullptr, 0), regcode::InvalidParameter);
    }
    EXPECT_EQ(store.setValue(key, "x", REG_SZ_, nullptr, 3), regcode::InvalidParameter);
}

TEST_F(StoreTest, TouchesNothingUntilTheFirstWriteAndSeesOtherWriters) {
    auto reader = makeStore();
    RegHandle key = 0;
    EXPECT_EQ(reader.openKey(HKEY_CURRENT_USER_, ProfileKeyText, key), regcode::FileNotFound);
    EXPECT_EQ(reader.openKey(HKEY_CURRENT_USER_, RunKeyText, key), 0);
    reader.closeKey(key);
    EXPECT_FALSE(fs::exists(dir / "cfg"));

    auto writer = makeStore();
    for (std::uint8_t i = 1; i <= 3; ++i) {
        ASSERT_EQ(set(writer, ProfileKeyText, "N", REG_DWORD_, {i, 0, 0, 0}), 0);
        EXPECT_EQ(get(reader, ProfileKeyText, "n")->second[0], i);
    }
    EXPECT_EQ((fs::status(file().parent_path()).permissions() & fs::perms::all),
              fs::perms::owner_all);
    EXPECT_EQ((fs::status(file()).permissions() & fs::perms::all),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ((fs::status(fs::path(file()) += ".lock").permissions() & fs::perms::all),
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(StoreTest, LeavesTheModeOfAnExistingFolderAlone) {
    fs::create_directories(file().parent_path());
    ::chmod(file().parent_path().c_str(), 0750);
    auto store = makeStore();
    ASSERT_EQ(set(store, ProfileKeyText, "A", REG_SZ_, sz("b")), 0);
    EXPECT_EQ(fs::status(file().parent_path()).permissions() & fs::perms::all,
              fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
}

// ---- generations and damage ----

TEST_F(StoreTest, KeepsThePreviousGeneration) {
    auto store = makeStore();
    ASSERT_EQ(set(store, ProfileKeyText, "Gen", REG_DWORD_, {1, 0, 0, 0}), 0);
    const std::string first = readFile(file());
    ASSERT_EQ(set(store, ProfileKeyText, "Gen", REG_DWORD_, {2, 0, 0, 0}), 0);
    EXPECT_EQ(readFile(fs::path(file()) += ".prev"), first);
    EXPECT_EQ(filesBeside(),
              (std::vector<std::string>{"user.reg", "user.reg.lock", "user.reg.prev"}));
}

TEST_F(StoreTest, NeverOverwritesADamagedFile) {
    std::string random(300, '\0');
    std::mt19937 generator(7);
    for (char& c : random) {
        c = static_cast<char>(generator());
    }
    const struct {
        const char* what;
        std::string text;
        bool withPrev;
    } cases[] = {
        {"truncated", std::string(GoodFile.substr(0, 70)), true},
        {"zeroed", std::string(GoodFile.size(), '\0'), true},
        {"random", random, false},
        {"invalid UTF-8", std::string(GoodFile) + "\"X\"=\"\xE2\x28\xA1\"\n", true},
        {"empty", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir / "cfg");
        fs::create_directories(file().parent_path());
        writeFile(file(), c.text);
        const std::string prevText = std::string(GoodFile) + "\"FromPrev\"=dword:00000001\n";
        if (c.withPrev) {
            writeFile(fs::path(file()) += ".prev", prevText);
        }

        auto store = makeStore();
        // Reads see the previous generation, or an empty store, and change nothing.
        EXPECT_EQ(get(store, ProfileKeyText, "FromPrev").has_value(), c.withPrev);
        EXPECT_EQ(readFile(file()), c.text);

        ASSERT_EQ(set(store, ProfileKeyText, "After", REG_SZ_, sz("write")), 0);
        const auto names = filesBeside();
        const auto aside = std::find_if(names.begin(), names.end(), [](const std::string& n) {
            return n.rfind("user.reg.damaged-", 0) == 0;
        });
        ASSERT_NE(aside, names.end());
        EXPECT_EQ(readFile(file().parent_path() / *aside), c.text);
        EXPECT_TRUE(parseRegFile(readFile(file())));
        EXPECT_EQ(get(store, ProfileKeyText, "After")->second, sz("write"));
        EXPECT_EQ(get(store, ProfileKeyText, "FromPrev").has_value(), c.withPrev);
        if (c.withPrev) {
            EXPECT_EQ(readFile(fs::path(file()) += ".prev"), prevText);
        }

        // A second damage later is kept too, not written over the first.
        writeFile(file(), c.text + "x");
        ASSERT_EQ(set(store, ProfileKeyText, "Again", REG_SZ_, sz("1")), 0);
        const auto later = filesBeside();
        EXPECT_EQ(std::count_if(
                      later.begin(), later.end(),
                      [](const std::string& n) { return n.rfind("user.reg.damaged-", 0) == 0; }),
                  2);
    }
}

// Whatever stands at the file's name, reads go on from the newest sound generation (the file, else
// its backup), nothing waits on it, and a write either carries that generation forward or, when
// the thing at the name is not a file, is refused and leaves it alone. A link is written through.
struct GenerationCase {
    const char* name;
    // Puts something at the file's name; `elsewhere` is a folder outside the store's.
    std::function<void(const fs::path& file, const fs::path& elsewhere)> makeCurrent;
    bool currentIsSound;
    std::int32_t writeCode;
    bool isLink;
};

void PrintTo(const GenerationCase& value, std::ostream* out) {
    *out << value.name;
}

class StoreGenerations : public StoreTest, public ::testing::WithParamInterface<GenerationCase> {};

TEST_P(StoreGenerations, ReadFromTheNewestSoundOneAndLoseNothing) {
    const GenerationCase& c = GetParam();
    const std::string current = std::string(GoodFile) + "\"Gen\"=dword:00000001\n";
    const std::string backup =
        std::string(GoodFile) + "\"Gen\"=dword:00000002\n\"Keep\"=\"backup\"\n";
    for (const bool withBackup : {false, true}) {
        SCOPED_TRACE(withBackup ? "with a sound backup" : "without a backup");
        fs::remove_all(dir / "cfg");
        fs::remove_all(dir / "elsewhere");
        fs::create_directories(file().parent_path());
        fs::create_directories(dir / "elsewhere");
        if (withBackup) {
            writeFile(fs::path(file()) += ".prev", backup);
        }
        c.makeCurrent(file(), dir / "elsewhere");
        const auto typeBefore = fs::symlink_status(file()).type();

        // A FIFO must not hold the read: if it does, the alarm ends the test run.
        ::alarm(30);
        auto store = makeStore();
        const auto gen = get(store, ProfileKeyText, "Gen");
        ::alarm(0);
        if (c.currentIsSound) {
            EXPECT_EQ(gen->second, (std::vector<std::uint8_t>{1, 0, 0, 0}));
        } else if (withBackup) {
            EXPECT_EQ(gen->second, (std::vector<std::uint8_t>{2, 0, 0, 0}));
            EXPECT_EQ(get(store, ProfileKeyText, "Keep")->second, sz("backup"));
        } else {
            EXPECT_FALSE(gen);
        }

        ASSERT_EQ(set(store, ProfileKeyText, "After", REG_SZ_, sz("x")), c.writeCode);
        for (const auto& name : filesBeside()) {
            EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
        }
        if (c.writeCode != regcode::Success) {
            EXPECT_EQ(fs::symlink_status(file()).type(), typeBefore);
            EXPECT_FALSE(store.lastWriteFailure().empty());
            continue;
        }
        EXPECT_EQ(fs::is_symlink(file()), c.isLink);
        // The generation read is carried forward, and a second write keeps it too: the backup
        // is replaced only by a file that holds what it held.
        ASSERT_EQ(set(store, ProfileKeyText, "Again", REG_SZ_, sz("y")), 0);
        auto fresh = makeStore();
        EXPECT_EQ(get(fresh, ProfileKeyText, "Gen"), gen);
        EXPECT_EQ(get(fresh, ProfileKeyText, "After")->second, sz("x"));
        if (withBackup) {
            EXPECT_EQ(get(fresh, ProfileKeyText, "Keep").has_value(), !c.currentIsSound);
        }
        EXPECT_TRUE(parseRegFile(readFile(fs::path(file()) += ".prev")));
        EXPECT_EQ(fs::is_symlink(file()), c.isLink);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, StoreGenerations,
    ::testing::Values(
        GenerationCase{"Missing", [](const fs::path&, const fs::path&) {}, false, regcode::Success,
                       false},
        GenerationCase{"Damaged",
                       [](const fs::path& file, const fs::path&) {
                           writeFile(file, std::string(GoodFile.substr(0, 50)));
                       },
                       false, regcode::Success, false},
        GenerationCase{"Fifo",
                       [](const fs::path& file, const fs::path&) {
                           ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
                       },
                       false, regcode::ReadFault, false},
        GenerationCase{"Folder",
                       [](const fs::path& file, const fs::path&) { fs::create_directory(file); },
                       false, regcode::ReadFault, false},
        GenerationCase{"LinkToASoundFile",
                       [](const fs::path& file, const fs::path& elsewhere) {
                           writeFile(elsewhere / "pellamark.reg",
                                     std::string(GoodFile) + "\"Gen\"=dword:00000001\n");
                           fs::create_symlink("../../elsewhere/pellamark.reg", file);
                       },
                       true, regcode::Success, true},
        GenerationCase{"LinkToADamagedFile",
                       [](const fs::path& file, const fs::path& elsewhere) {
                           writeFile(elsewhere / "pellamark.reg", "not a registry file");
                           fs::create_symlink(elsewhere / "pellamark.reg", file);
                       },
                       false, regcode::Success, true},
        GenerationCase{"LinkToNothingYet",
                       [](const fs::path& file, const fs::path& elsewhere) {
                           fs::create_symlink(elsewhere / "pellamark.reg", file);
                       },
                       false, regcode::Success, true},
        GenerationCase{"LinkToAFifo",
                       [](const fs::path& file, const fs::path& elsewhere) {
                           ASSERT_EQ(::mkfifo((elsewhere / "fifo").c_str(), 0600), 0);
                           fs::create_symlink(elsewhere / "fifo", file);
                       },
                       false, regcode::ReadFault, true}),
    [](const auto& info) { return std::string(info.param.name); });

// A write through a link replaces the link's target in its own folder: the link stays and leads
// to the new text, nothing is left over there, and the generation before is kept beside the link.
TEST_F(StoreTest, WritesThroughALinkAndKeepsIt) {
    fs::create_directories(file().parent_path());
    fs::create_directories(dir / "dotfiles");
    const fs::path target = dir / "dotfiles/pellamark.reg";
    const std::string before = std::string(GoodFile);
    writeFile(target, before);
    fs::create_symlink(target, file());

    auto store = makeStore();
    ASSERT_EQ(set(store, ProfileKeyText, "After", REG_SZ_, sz("x")), 0);

    EXPECT_EQ(fs::read_symlink(file()), target);
    EXPECT_EQ(readFile(file()), readFile(target));
    EXPECT_NE(readFile(target).find("\"After\"=\"x\""), std::string::npos);
    EXPECT_EQ(readFile(fs::path(file()) += ".prev"), before);
    std::vector<std::string> there;
    for (const auto& entry : fs::directory_iterator(dir / "dotfiles")) {
        there.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(there, std::vector<std::string>{"pellamark.reg"});
}

// ---- failures ----

TEST_F(StoreTest, AFailedWriteLeavesTheOldFileAndNoTemporaryFile) {
    auto store = makeStore();
    ASSERT_EQ(set(store, ProfileKeyText, "Keep", REG_SZ_, sz("me")), 0);
    const std::string before = readFile(file());
    const auto check = [&](std::int32_t code, std::int32_t expected) {
        EXPECT_EQ(code, expected);
        EXPECT_EQ(readFile(file()), before);
        for (const auto& name : filesBeside()) {
            EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
        }
    };

    {
        SCOPED_TRACE("file size limit (a full disk as far as the store can tell)");
        const pid_t child = ::fork();
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{64, 64};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            auto inChild = makeStore();
            const auto code = set(inChild, ProfileKeyText, "Big", REG_BINARY_,
                                  std::vector<std::uint8_t>(4096, 0xab));
            ::_exit(code == regcode::DiskFull ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        check(regcode::Success, regcode::Success);
    }
    {
        SCOPED_TRACE("lock held by another writer");
        const int fd = ::open((fs::path(file()) += ".lock").c_str(), O_RDWR);
        ASSERT_EQ(::flock(fd, LOCK_EX), 0);
        auto impatient = makeStore(std::chrono::milliseconds(50));
        check(set(impatient, ProfileKeyText, "Keep", REG_SZ_, sz("other")), regcode::Timeout);
        ::close(fd);
        EXPECT_EQ(set(impatient, ProfileKeyText, "Keep", REG_SZ_, sz("other")), 0);
        writeFile(file(), before);
    }
    {
        SCOPED_TRACE("unreadable lock file");
        const fs::path lock = fs::path(file()) += ".lock";
        fs::remove(lock);
        fs::create_directory(lock);
        check(set(store, ProfileKeyText, "Keep", REG_SZ_, sz("lost")), regcode::WriteFault);
        fs::remove(lock);
    }
}

TEST_F(StoreTest, AReadOnlyFolderFailsTheWrite) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permission bits do not stop root; the other failures are tested above";
    }
    auto store = makeStore();
    ASSERT_EQ(set(store, ProfileKeyText, "Keep", REG_SZ_, sz("me")), 0);
    const std::string before = readFile(file());
    ::chmod(file().parent_path().c_str(), 0500);
    EXPECT_EQ(set(store, ProfileKeyText, "Keep", REG_SZ_, sz("lost")), regcode::AccessDenied);
    ::chmod(file().parent_path().c_str(), 0700);
    EXPECT_EQ(readFile(file()), before);
    EXPECT_EQ(filesBeside(),
              (std::vector<std::string>{"user.reg", "user.reg.lock", "user.reg.prev"}));
}

TEST_F(StoreTest, AFolderThatIsAFileFailsTheWrite) {
    writeFile(dir / "cfg", "not a folder");
    auto store = makeStore();
    RegHandle key = 0;
    EXPECT_NE(store.createKey(HKEY_CURRENT_USER_, ProfileKeyText, key), 0);
    EXPECT_EQ(key, 0u);
    EXPECT_EQ(store.openKey(HKEY_CURRENT_USER_, ProfileKeyText, key), regcode::FileNotFound);
    EXPECT_EQ(readFile(dir / "cfg"), "not a folder");
}

TEST_F(StoreTest, APreviousGenerationThatIsTheCurrentFileLeavesNoTemporaryName) {
    // What a writer killed between refreshing .prev and replacing the file leaves behind.
    auto store = makeStore();
    ASSERT_EQ(set(store, ProfileKeyText, "A", REG_DWORD_, {1, 0, 0, 0}), 0);
    fs::remove(file().string() + ".prev");
    fs::create_hard_link(file(), file().string() + ".prev");
    ASSERT_EQ(set(store, ProfileKeyText, "A", REG_DWORD_, {2, 0, 0, 0}), 0);
    EXPECT_EQ(filesBeside(),
              (std::vector<std::string>{"user.reg", "user.reg.lock", "user.reg.prev"}));
}

// ---- several processes ----

TEST_F(StoreTest, AKilledWriterLeavesTheOldOrTheNewFile) {
    {
        auto store = makeStore();
        ASSERT_EQ(set(store, ProfileKeyText, "Count", REG_DWORD_, {0, 0, 0, 0}), 0);
    }
    std::mt19937 random(42);
    std::uint32_t lastSeen = 0;
    for (int round = 0; round < 25; ++round) {
        const pid_t child = ::fork();
        if (child == 0) {
            auto store = makeStore();
            for (std::uint32_t n = lastSeen + 1;; ++n) {
                // The padding makes each write long enough to be interrupted half-way.
                std::vector<std::uint8_t> padding(20000, static_cast<std::uint8_t>(n));
                set(store, ProfileKeyText, "Padding", REG_BINARY_, padding);
                set(store, ProfileKeyText, "Count", REG_DWORD_,
                    {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8), 0, 0});
            }
        }
        ::usleep(1000 + random() % 30000);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);

        const auto document = parseRegFile(readFile(file()));
        ASSERT_TRUE(document) << "round " << round;
        auto store = makeStore();
        const auto count = get(store, ProfileKeyText, "Count");
        ASSERT_TRUE(count);
        const std::uint32_t n = count->second[0] | (count->second[1] << 8);
        EXPECT_GE(n, lastSeen);
        if (const auto padding = get(store, ProfileKeyText, "Padding")) {
            // Padding is written first, so it is from the same round as Count or one ahead.
            EXPECT_EQ(padding->second.size(), 20000u);
            const auto p = padding->second.front();
            EXPECT_TRUE(p == static_cast<std::uint8_t>(n) || p == static_cast<std::uint8_t>(n + 1));
        }
        lastSeen = n;
    }
    // The next write clears what the killed writers left behind.
    auto store = makeStore();
    ASSERT_EQ(set(store, ProfileKeyText, "Done", REG_DWORD_, {1, 0, 0, 0}), 0);
    for (const auto& name : filesBeside()) {
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
        EXPECT_EQ(name.find("damaged"), std::string::npos) << name;
    }
}

TEST_F(StoreTest, TwoProcessesWritingAtOnceLoseNothing) {
    constexpr int Writes = 500;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        if (children[c] == 0) {
            auto store = makeStore(std::chrono::seconds(30));
            int failures = 0;
            for (int i = 0; i < Writes; ++i) {
                const std::string name = "P" + std::to_string(c) + "-" + std::to_string(i);
                if (const auto code = set(store, ProfileKeyText, name, REG_SZ_, sz(name));
                    code != 0) {
                    std::fprintf(stderr, "writing %s failed: %d\n", name.c_str(), code);
                    ++failures;
                }
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
    }
    for (const pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const auto document = parseRegFile(readFile(file()));
    ASSERT_TRUE(document);
    const RegFileKey* key = findKey(*document, ProfileKeyText);
    ASSERT_NE(key, nullptr);
    std::set<std::string> names;
    for (const auto& value : key->values) {
        names.insert(value.name);
    }
    EXPECT_EQ(names.size(), 2u * Writes);
}

TEST(UserRegistryLocations, FollowTheConfigHome) {
    const struct {
        const char* xdg;
        const char* home;
        const char* file;
        const char* autostart;
    } cases[] = {
        {"/cfg", "/home/u", "/cfg/pellamark/user.reg", "/cfg/autostart"},
        {nullptr, "/home/u", "/home/u/.config/pellamark/user.reg", "/home/u/.config/autostart"},
        {"", "/home/u", "/home/u/.config/pellamark/user.reg", "/home/u/.config/autostart"},
        {"relative/cfg", "/home/u", "/home/u/.config/pellamark/user.reg",
         "/home/u/.config/autostart"},
    };
    for (const auto& c : cases) {
        const auto locations = userRegistryLocations(c.xdg, c.home);
        EXPECT_EQ(locations.registryFile, fs::path(c.file));
        EXPECT_EQ(locations.autostartFolder, fs::path(c.autostart));
    }
}
