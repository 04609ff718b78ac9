#pragma once

#include "settings/FileFailure.h"
#include "system/DurableFile.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pellamark {

// The Run key kept as freedesktop autostart entries, so that the desktop session starts at logon
// what the key lists: each value is the entry <folder>/<value name>.desktop, and its text is the
// command the entry starts. Only text values are taken, and no name may lead out of the folder.
class AutostartRunKey {
public:
    // Touches nothing on disk: the folder is created by the first value set.
    explicit AutostartRunKey(std::filesystem::path folder) : m_folder(std::move(folder)) {}

    // RegQueryValueExA, RegSetValueExA and RegDeleteValueA on the Run key.
    std::int32_t queryValue(const std::string& name, std::uint32_t& type, std::uint8_t* data,
                            std::uint32_t& size) const;
    std::int32_t setValue(const std::string& name, std::uint32_t type, const std::uint8_t* data,
                          std::uint32_t size);
    std::int32_t deleteValue(const std::string& name);

    const std::filesystem::path& folder() const { return m_folder; }
    // Where the last failed setValue or deleteValue failed.
    const std::optional<FileFailure>& lastFailure() const { return m_lastFailure; }

private:
    std::int32_t fail(int error, const std::filesystem::path& folder);

    // The entry of that value: the exact spelling first, else one that differs only by case.
    std::optional<std::filesystem::path> findEntry(const std::string& name) const;

    std::filesystem::path m_folder;
    std::optional<FileFailure> m_lastFailure;
};

// Whether a key path names the Run key, or a key above it. The Run key always exists, and so
// does every key above it.
bool isRunKey(std::string_view path);
bool isAboveRunKey(std::string_view path);

} // namespace pellamark
