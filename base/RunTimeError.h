#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace pellamark {

// A failure that reaches a handler's error report: a number and a description.
class RunTimeError : public std::runtime_error {
public:
    RunTimeError(std::int32_t number, const std::string& description)
        : std::runtime_error(description), m_number(number) {}

    std::int32_t number() const noexcept { return m_number; }
    std::string description() const { return what(); }

private:
    std::int32_t m_number;
};

// Error numbers used where the failure has no platform code of its own.
namespace errnum {
inline constexpr std::int32_t OutOfMemory = 7;
inline constexpr std::int32_t PathNotFound = 76;
inline constexpr std::int32_t Unexpected = 51; // "internal error"
} // namespace errnum

// Turns any exception into the number and description an error report shows.
RunTimeError describeException(std::exception_ptr error);

} // namespace pellamark
