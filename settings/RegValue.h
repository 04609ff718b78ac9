#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace pellamark {

// A registry value as the program reads it: a text or a 32-bit signed integer.
// A missing or unreadable value is the empty text.
using RegValue = std::variant<std::string, std::int32_t>;

// The value taken as text: integers as their decimal digits.
std::string regValueText(const RegValue& value);

inline bool isInteger(const RegValue& value) {
    return std::holds_alternative<std::int32_t>(value);
}

} // namespace pellamark
