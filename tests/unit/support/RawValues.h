#pragma once

#include "settings/RegistryStore.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pellamark::testing {

using Bytes = std::vector<std::uint8_t>;

// The bytes of a text, and of a text with its terminating NUL as a REG_SZ holds it.
inline Bytes bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}
inline Bytes sz(std::string_view text) {
    Bytes bytes = bytesOf(text);
    bytes.push_back(0);
    return bytes;
}

// Writes a value straight through the store, the way another program might.
inline std::int32_t setRawValue(RegistryStore& store, const std::string& path,
                                const std::string& name, std::uint32_t type, const Bytes& data) {
    RegHandle key = 0;
    if (const auto code = store.createKey(HKEY_CURRENT_USER_, path, key); code != 0) {
        return code;
    }
    const auto code =
        store.setValue(key, name, type, data.data(), static_cast<std::uint32_t>(data.size()));
    store.closeKey(key);
    return code;
}

// The stored type and bytes, read straight from the store; nullopt when the value can't be read.
inline std::optional<std::pair<std::uint32_t, Bytes>>
getRawValue(RegistryStore& store, const std::string& path, const std::string& name) {
    RegHandle key = 0;
    if (store.openKey(HKEY_CURRENT_USER_, path, key) != 0) {
        return std::nullopt;
    }
    std::uint32_t type = 0, size = 0;
    std::optional<std::pair<std::uint32_t, Bytes>> result;
    if (store.queryValue(key, name, type, nullptr, size) == 0) {
        Bytes data(size + 1);
        if (store.queryValue(key, name, type, data.data(), size) == 0) {
            data.resize(size);
            result.emplace(type, std::move(data));
        }
    }
    store.closeKey(key);
    return result;
}

} // namespace pellamark::testing
