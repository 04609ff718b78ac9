#pragma once

#include "RawValues.h"
#include "TempDir.h"
#include "settings/FileRegistryStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pellamark::testing {

// A file store in a fresh temporary folder, the way the program keeps the user's: the file in
// cfg/pellamark, the autostart folder in cfg/autostart. Nothing exists on disk at the start.
class StoreTest : public ::testing::Test {
protected:
    std::filesystem::path file() const { return dir / "cfg" / "pellamark" / "user.reg"; }
    std::filesystem::path autostart() const { return dir / "cfg" / "autostart"; }
    FileRegistryStore makeStore(std::chrono::milliseconds lockWait = std::chrono::seconds(5)) {
        return FileRegistryStore(file(), autostart(), FileRegistryStoreOptions{lockWait});
    }

    static std::int32_t set(RegistryStore& store, const std::string& path, const std::string& name,
                            std::uint32_t type, const std::vector<std::uint8_t>& data) {
        return setRawValue(store, path, name, type, data);
    }

    // The stored type and bytes, or nullopt when the value cannot be read.
    static std::optional<std::pair<std::uint32_t, std::vector<std::uint8_t>>>
    get(RegistryStore& store, const std::string& path, const std::string& name) {
        return getRawValue(store, path, name);
    }

    std::vector<std::string> filesBeside() const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(file().parent_path(), ec)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir;
};

} // namespace pellamark::testing
