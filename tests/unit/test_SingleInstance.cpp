#include "TempDir.h"
#include "settings/SingleInstance.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

using namespace pellamark;
using pellamark::testing::TempDir;
namespace fs = std::filesystem;

namespace {

TEST(SingleInstanceTest, OneCopyPerUserAndTheLockDiesWithItsHolder) {
    TempDir runtime;
    ::chmod(runtime.path().c_str(), 0700);
    auto first = std::make_unique<SingleInstance>();
    EXPECT_EQ(first->acquire(runtime.path(), "/nonexistent"), SingleInstance::Result::First);
    SingleInstance second;
    EXPECT_EQ(second.acquire(runtime.path(), "/nonexistent"),
              SingleInstance::Result::AlreadyRunning);
    first.reset();
    EXPECT_EQ(second.acquire(runtime.path(), "/nonexistent"), SingleInstance::Result::First);
    EXPECT_EQ((fs::status(runtime / "pellamark.lock").permissions() & fs::perms::others_all),
              fs::perms::none);
}

TEST(SingleInstanceTest, FallsBackToAPrivateFolderAndRefusesPlantedOnes) {
    TempDir base;
    const std::string privateName = "pellamark-" + std::to_string(::geteuid());
    struct Case {
        const char* name;
        std::string runtimeDir;
        std::function<void()> prepare;
        SingleInstance::Result expected;
    };
    const Case cases[] = {
        {"no runtime folder", "", [] {}, SingleInstance::Result::First},
        {"relative runtime folder", "run", [] {}, SingleInstance::Result::First},
        {"world-writable runtime folder", (base / "open").string(),
         [&] {
             fs::create_directory(base / "open");
             ::chmod((base / "open").c_str(), 0777);
         },
         SingleInstance::Result::First},
        {"fallback is a symlink", "",
         [&] {
             fs::create_directory(base / "elsewhere");
             fs::create_directory_symlink(base / "elsewhere", base / privateName);
         },
         SingleInstance::Result::Unchecked},
        {"fallback is world-writable", "",
         [&] {
             fs::create_directory(base / privateName);
             ::chmod((base / privateName).c_str(), 0777);
         },
         SingleInstance::Result::Unchecked},
    };
    for (const Case& c : cases) {
        fs::remove_all(base / privateName);
        c.prepare();
        SingleInstance lock;
        EXPECT_EQ(lock.acquire(c.runtimeDir, base.path()), c.expected) << c.name;
        if (c.expected == SingleInstance::Result::First) {
            EXPECT_TRUE(fs::exists(base / privateName / "pellamark.lock")) << c.name;
            EXPECT_EQ(fs::status(base / privateName).permissions() & fs::perms::all,
                      fs::perms::owner_all)
                << c.name;
        }
    }
}

} // namespace
