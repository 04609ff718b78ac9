#pragma once

#include "settings/RegTypes.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace pellamark {

// Key handles as the registry hands them out; 0 is "no handle".
using RegHandle = std::uintptr_t;

// Predefined roots.
inline constexpr RegHandle HKEY_CURRENT_USER_ = 0x80000001u;

// The key whose values name the programs started at logon.
inline constexpr const char* RunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Return codes (Win32 error codes).
namespace regcode {
inline constexpr std::int32_t Success = 0;
inline constexpr std::int32_t FileNotFound = 2;
inline constexpr std::int32_t PathNotFound = 3;
inline constexpr std::int32_t AccessDenied = 5;
inline constexpr std::int32_t InvalidHandle = 6;
inline constexpr std::int32_t NotEnoughMemory = 8;
inline constexpr std::int32_t WriteFault = 29;
inline constexpr std::int32_t ReadFault = 30;
inline constexpr std::int32_t DiskFull = 112;
inline constexpr std::int32_t InvalidParameter = 87;
inline constexpr std::int32_t MoreData = 234;
inline constexpr std::int32_t Timeout = 1460;
inline constexpr std::int32_t BadDb = 1009;
} // namespace regcode

// The registry as the advapi32 calls see it. Texts (paths, names) are UTF-8 here; a store that
// talks to an ANSI interface converts at its edge. Every call returns 0 or a Win32 error code.
class RegistryStore {
public:
    virtual ~RegistryStore() = default;

    // RegOpenKeyA: opens an existing key; leaves `key` untouched on failure.
    virtual std::int32_t openKey(RegHandle root, const std::string& path, RegHandle& key) = 0;
    // RegCreateKeyA: opens the key, creating it and any missing keys above it.
    virtual std::int32_t createKey(RegHandle root, const std::string& path, RegHandle& key) = 0;
    // RegQueryValueExA: with `data` null only the type and size are reported. With a buffer of
    // `size` bytes the data is copied and `size` set to the bytes stored; MoreData when too
    // small. A missing value gives FileNotFound and leaves `type` untouched.
    virtual std::int32_t queryValue(RegHandle key, const std::string& name, std::uint32_t& type,
                                    std::uint8_t* data, std::uint32_t& size) = 0;
    // RegSetValueExA.
    virtual std::int32_t setValue(RegHandle key, const std::string& name, std::uint32_t type,
                                  const std::uint8_t* data, std::uint32_t size) = 0;
    // RegDeleteValueA.
    virtual std::int32_t deleteValue(RegHandle key, const std::string& name) = 0;
    // RegCloseKey: InvalidHandle for 0 or an unknown handle.
    virtual std::int32_t closeKey(RegHandle key) = 0;

    // Why the last write (createKey, setValue, deleteValue) failed, in plain words for the user
    // ("The folder ... is read-only"); empty when it did not fail or the code says all there is.
    virtual std::string lastWriteFailure() const { return {}; }
};

// Answers a RegQueryValueExA-style query from a stored value: the type and size alone when
// `data` is null, MoreData with the needed size when the buffer is too small, else the bytes.
inline std::int32_t answerQuery(std::uint32_t storedType, const std::uint8_t* bytes,
                                std::size_t count, std::uint32_t& type, std::uint8_t* data,
                                std::uint32_t& size) {
    const auto needed = static_cast<std::uint32_t>(count);
    type = storedType;
    if (data == nullptr) {
        size = needed;
        return regcode::Success;
    }
    if (size < needed) {
        size = needed;
        return regcode::MoreData;
    }
    std::copy(bytes, bytes + count, data);
    size = needed;
    return regcode::Success;
}

// The current user's store on this platform.
std::unique_ptr<RegistryStore> makeUserRegistryStore();

} // namespace pellamark
