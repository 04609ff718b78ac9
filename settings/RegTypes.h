#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace pellamark {

// Value types as the registry stores them.
inline constexpr std::uint32_t REG_NONE_ = 0;
inline constexpr std::uint32_t REG_SZ_ = 1;
inline constexpr std::uint32_t REG_EXPAND_SZ_ = 2;
inline constexpr std::uint32_t REG_BINARY_ = 3;
inline constexpr std::uint32_t REG_DWORD_ = 4;

// A REG_DWORD is four bytes, least significant first.
inline constexpr std::size_t DwordSize = 4;

inline std::array<std::uint8_t, DwordSize> packDword(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>((value >> 8) & 0xFF),
            static_cast<std::uint8_t>((value >> 16) & 0xFF),
            static_cast<std::uint8_t>((value >> 24) & 0xFF)};
}

inline std::uint32_t unpackDword(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) |
           (std::uint32_t{bytes[2]} << 16) | (std::uint32_t{bytes[3]} << 24);
}

} // namespace pellamark
