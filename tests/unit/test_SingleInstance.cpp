#include "TempDir.h"
#include "settings/FileRegistryStore.h"
#include "system/SingleInstance.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using namespace pellamark;
using pellamark::testing::TempDir;
namespace fs = std::filesystem;

namespace {

// Sets environment variables (nullptr: unset) for its lifetime and puts the old values back.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::initializer_list<std::pair<const char*, const char*>> values) {
        for (const auto& [name, value] : values) {
            const char* old = std::getenv(name);
            m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            set(name, value);
        }
    }
    ~ScopedEnvironment() {
        for (const auto& [name, value] : m_saved) {
            set(name.c_str(), value ? value->c_str() : nullptr);
        }
    }
    static void set(const char* name, const char* value) {
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

TEST(SingleInstanceTest, OneCopyPerUserAndTheLockDiesWithItsHolder) {
    TempDir dir;
    const fs::path folder = dir / "cfg/pellamark";
    auto first = std::make_unique<SingleInstance>();
    EXPECT_EQ(first->acquire(folder), SingleInstance::Result::First);
    SingleInstance second;
    EXPECT_EQ(second.acquire(folder), SingleInstance::Result::AlreadyRunning);
    first.reset();
    EXPECT_EQ(second.acquire(folder), SingleInstance::Result::First);
    EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ((fs::status(folder / "pellamark.lock").permissions() & fs::perms::others_all),
              fs::perms::none);
}

// Copies started with and without a runtime folder, or with different ones, are still one user's
// copies of one profile: they take the one lock beside the profile.
TEST(SingleInstanceTest, EveryEnvironmentOfOneUserTakesTheLockBesideTheProfile) {
    TempDir dir;
    fs::create_directories(dir / "run1");
    fs::create_directories(dir / "run2");
    const std::string home = (dir / "home").string();
    const std::string config = (dir / "home/.config").string();
    ScopedEnvironment base{{"HOME", home.c_str()}, {"XDG_CONFIG_HOME", nullptr}};

    SingleInstance first;
    {
        ScopedEnvironment runtime{{"XDG_RUNTIME_DIR", (dir / "run1").c_str()}};
        ASSERT_EQ(first.acquire(), SingleInstance::Result::First);
    }
    const struct {
        const char* name;
        const char* runtimeDir;
        const char* configHome;
    } others[] = {
        {"without a runtime folder", nullptr, nullptr},
        {"with another runtime folder", (dir / "run2").c_str(), nullptr},
        {"with the configuration folder named", nullptr, config.c_str()},
    };
    for (const auto& other : others) {
        ScopedEnvironment environment{{"XDG_RUNTIME_DIR", other.runtimeDir},
                                      {"XDG_CONFIG_HOME", other.configHome}};
        SingleInstance copy;
        EXPECT_EQ(copy.acquire(), SingleInstance::Result::AlreadyRunning) << other.name;
    }
    const auto locations = userRegistryLocations(nullptr, home.c_str());
    EXPECT_TRUE(fs::exists(locations.registryFile.parent_path() / "pellamark.lock"));
    EXPECT_FALSE(fs::exists(dir / "run1/pellamark.lock"));
}

TEST(SingleInstanceTest, RefusesAFolderOthersCouldWriteTo) {
    TempDir dir;
    const fs::path folder = dir / "pellamark";
    struct Case {
        const char* name;
        std::function<std::string()> prepare; // the folder to use
        SingleInstance::Result expected;
    };
    const Case cases[] = {
        {"world-writable",
         [&] {
             fs::create_directory(folder);
             ::chmod(folder.c_str(), 0777);
             return folder.string();
         },
         SingleInstance::Result::Unchecked},
        {"another user's",
         [&]() -> std::string {
             if (::geteuid() != 0) {
                 return "/"; // never this user's
             }
             fs::create_directory(folder);
             [[maybe_unused]] const int changed = ::chown(folder.c_str(), 65534, 65534);
             return folder.string();
         },
         SingleInstance::Result::Unchecked},
        {"a lock file that is a link",
         [&] {
             fs::create_directory(folder);
             fs::create_directory(dir / "elsewhere");
             fs::create_symlink(dir / "elsewhere/lock", folder / "pellamark.lock");
             return folder.string();
         },
         SingleInstance::Result::Unchecked},
        {"relative", [] { return std::string("pellamark"); }, SingleInstance::Result::Unchecked},
        // A configuration folder kept elsewhere and linked in is still the user's own.
        {"a link to a private folder",
         [&] {
             fs::create_directory(dir / "dotfiles");
             ::chmod((dir / "dotfiles").c_str(), 0700);
             fs::create_directory_symlink(dir / "dotfiles", folder);
             return folder.string();
         },
         SingleInstance::Result::First},
    };
    for (const Case& c : cases) {
        fs::remove_all(folder);
        fs::remove_all(dir / "elsewhere");
        fs::remove_all(dir / "dotfiles");
        const std::string used = c.prepare();
        SingleInstance lock;
        EXPECT_EQ(lock.acquire(used), c.expected) << c.name;
        EXPECT_FALSE(fs::exists(dir / "elsewhere/lock")) << c.name;
    }
}

} // namespace
