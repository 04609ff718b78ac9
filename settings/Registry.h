#pragma once

#include "settings/RegValue.h"
#include "settings/RegistryStore.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pellamark {

// The five registry routines every registry access of the program goes through. A failed
// registry call is never an error here: it shows only in the result and in LastRegResult().
class Registry {
public:
    explicit Registry(RegistryStore& store) : m_store(store) {}

    bool RegKeyExists(RegHandle root, const std::string& path);
    RegValue GetRegValue(RegHandle root, const std::string& path, const std::string& name);
    void SetRegValue(RegHandle root, const std::string& path, const std::string& name,
                     const std::string& value);
    void CreateRegKey(RegHandle root, const std::string& path);
    void DeleteRegValue(RegHandle root, const std::string& path, const std::string& name);

    // The return code of the last registry call made by any routine above.
    std::int32_t LastRegResult() const noexcept { return m_lastRegResult; }

    // Whether the last SetRegValue, CreateRegKey or DeleteRegValue stored what it was asked to:
    // the code of its first failed write, or Success (a value that was not there to delete
    // counts as deleted). The calls are made as always; this only keeps the outcome.
    std::int32_t LastWriteResult() const noexcept { return m_lastWriteResult; }
    // Why that write failed, as the store puts it in plain words; empty when it cannot say.
    const std::string& LastWriteFailure() const noexcept { return m_lastWriteFailure; }

private:
    std::int32_t record(std::int32_t code) noexcept { return m_lastRegResult = code; }
    void startWrite();
    std::int32_t recordWrite(std::int32_t code);

    RegistryStore& m_store;
    std::int32_t m_lastRegResult = 0;
    std::int32_t m_lastWriteResult = 0;
    std::string m_lastWriteFailure;
};

// Whether a text counts as a number for the choice between REG_DWORD and REG_SZ: an optional
// sign, digits with an optional decimal point and fraction, an optional exponent, with blanks
// allowed around it.
bool isNumericText(std::string_view text);

// The numeric text rounded half to even as a 32-bit integer; empty when it lies outside the range.
std::optional<std::int32_t> numericTextToInt32(std::string_view text);

// The text with leading and trailing space characters removed.
std::string_view trimSpaces(std::string_view text);

} // namespace pellamark
