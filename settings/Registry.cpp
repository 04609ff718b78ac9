#include "settings/Registry.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace pellamark {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The numeric text without its surrounding blanks, or empty when it is not numeric.
std::string_view numericCore(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    const std::string_view core = text.substr(first, last - first + 1);

    std::size_t i = 0;
    if (i < core.size() && (core[i] == '+' || core[i] == '-')) {
        ++i;
    }
    std::size_t digits = 0;
    while (i < core.size() && isDigit(core[i])) {
        ++i;
        ++digits;
    }
    if (i < core.size() && core[i] == '.') {
        ++i;
        while (i < core.size() && isDigit(core[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0) {
        return {};
    }
    if (i < core.size() && (core[i] == 'e' || core[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < core.size() && (core[j] == '+' || core[j] == '-')) {
            ++j;
        }
        std::size_t expDigits = 0;
        while (j < core.size() && isDigit(core[j])) {
            ++j;
            ++expDigits;
        }
        if (expDigits == 0) {
            return {};
        }
        i = j;
    }
    return i == core.size() ? core : std::string_view{};
}

} // namespace

std::string_view trimSpaces(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

bool isNumericText(std::string_view text) {
    return !numericCore(text).empty();
}

std::optional<std::int32_t> numericTextToInt32(std::string_view text) {
    std::string_view core = numericCore(text);
    if (core.empty()) {
        return std::nullopt;
    }
    if (core.front() == '+') {
        core.remove_prefix(1);
    }
    double number = 0.0;
    const auto [end, ec] = std::from_chars(core.data(), core.data() + core.size(), number);
    if (ec == std::errc::result_out_of_range) {
        // Too small to matter rounds to zero; too large is out of range.
        const bool tiny = core.find_first_of("eE") != std::string_view::npos &&
                          core.find("e-") != std::string_view::npos;
        if (tiny) {
            return 0;
        }
        return std::nullopt;
    }
    if (ec != std::errc{} || end != core.data() + core.size() || !std::isfinite(number)) {
        return std::nullopt;
    }
    // Round half to even regardless of the current rounding mode.
    double rounded = std::round(number);
    if (std::fabs(number - std::trunc(number)) == 0.5) {
        rounded = 2.0 * std::round(number / 2.0);
    }
    if (rounded < static_cast<double>(std::numeric_limits<std::int32_t>::min()) ||
        rounded > static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(rounded);
}

void Registry::startWrite() {
    m_lastWriteResult = regcode::Success;
    m_lastWriteFailure.clear();
}

std::int32_t Registry::recordWrite(std::int32_t code) {
    record(code);
    if (code != regcode::Success && m_lastWriteResult == regcode::Success) {
        m_lastWriteResult = code;
        m_lastWriteFailure = m_store.lastWriteFailure();
    }
    return code;
}

bool Registry::RegKeyExists(RegHandle root, const std::string& path) {
    RegHandle key = 0;
    record(m_store.openKey(root, path, key));
    const bool exists = key != 0;
    record(m_store.closeKey(key));
    return exists;
}

RegValue Registry::GetRegValue(RegHandle root, const std::string& path, const std::string& name) {
    RegValue result = std::string{};
    RegHandle key = 0;
    record(m_store.openKey(root, path, key));
    if (key != 0) {
        std::uint32_t type = 0;
        std::uint32_t size = 0;
        record(m_store.queryValue(key, name, type, nullptr, size));
        if (type == REG_SZ_) {
            std::vector<std::uint8_t> buffer(size);
            std::uint32_t freshType = 0;
            // A zero-sized value still gets a (one-byte) buffer so the read is a real read.
            std::uint8_t empty = 0;
            std::uint8_t* data = buffer.empty() ? &empty : buffer.data();
            if (record(m_store.queryValue(key, name, freshType, data, size)) == regcode::Success) {
                const std::size_t stored = std::min<std::size_t>(size, buffer.size());
                const char* chars = reinterpret_cast<const char*>(buffer.data());
                const void* nul = stored == 0 ? nullptr : std::memchr(chars, '\0', stored);
                const std::size_t length =
                    nul != nullptr ? static_cast<const char*>(nul) - chars : stored;
                result = std::string(chars, length);
            }
        } else if (type == REG_DWORD_) {
            size = DwordSize;
            std::uint8_t bytes[DwordSize] = {};
            if (record(m_store.queryValue(key, name, type, bytes, size)) == regcode::Success) {
                result = static_cast<std::int32_t>(unpackDword(bytes));
            }
        }
    }
    record(m_store.closeKey(key));
    return result;
}

void Registry::SetRegValue(RegHandle root, const std::string& path, const std::string& name,
                           const std::string& value) {
    // The type is decided before the registry is touched. A numeric text outside the 32-bit
    // range is kept as text rather than failing the whole save.
    const std::optional<std::int32_t> number =
        isNumericText(value) ? numericTextToInt32(value) : std::nullopt;

    startWrite();
    RegHandle key = 0;
    recordWrite(m_store.createKey(root, path, key));
    if (number) {
        const auto bytes = packDword(static_cast<std::uint32_t>(*number));
        recordWrite(m_store.setValue(key, name, REG_DWORD_, bytes.data(), DwordSize));
    } else {
        std::string text(trimSpaces(value));
        text.push_back('\0');
        recordWrite(m_store.setValue(key, name, REG_SZ_,
                                     reinterpret_cast<const std::uint8_t*>(text.data()),
                                     static_cast<std::uint32_t>(text.size())));
    }
    record(m_store.closeKey(key));
}

void Registry::CreateRegKey(RegHandle root, const std::string& path) {
    startWrite();
    RegHandle key = 0;
    recordWrite(m_store.createKey(root, path, key));
    record(m_store.closeKey(key));
}

void Registry::DeleteRegValue(RegHandle root, const std::string& path, const std::string& name) {
    startWrite();
    if (!RegKeyExists(root, path)) {
        return;
    }
    RegHandle key = 0;
    record(m_store.openKey(root, path, key));
    if (const std::int32_t code = record(m_store.deleteValue(key, name));
        code != regcode::FileNotFound) {
        recordWrite(code);
    }
    record(m_store.closeKey(key));
}

} // namespace pellamark
