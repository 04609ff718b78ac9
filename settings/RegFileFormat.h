#pragma once

#include "settings/RegName.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellamark {

// One value of a key as kept in the registry file: the exact bytes and type it was stored with.
struct RegFileValue {
    std::string name; // spelling as created; empty for the key's default value
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};

// One key, named by its path below HKEY_CURRENT_USER ("Software\Quellworks"); the empty path is
// the root itself.
struct RegFileKey {
    std::string path;
    std::vector<RegFileValue> values;
};

// The whole file. Keys keep the order they were read or created in.
struct RegFileDocument {
    std::vector<RegFileKey> keys;
};

// The text of a document in the registry export format (UTF-8).
std::string serializeRegFile(const RegFileDocument& document);

// A document read back from that text; nullopt when the text is not a complete, well-formed
// file (no header, a line that means nothing, invalid UTF-8, a NUL byte, an empty file ...).
std::optional<RegFileDocument> parseRegFile(std::string_view text);

// Lookups by case-insensitive name. Null when absent.
RegFileKey* findKey(RegFileDocument& document, std::string_view path);
const RegFileKey* findKey(const RegFileDocument& document, std::string_view path);
RegFileValue* findValue(RegFileKey& key, std::string_view name);
const RegFileValue* findValue(const RegFileKey& key, std::string_view name);

// A key exists when it is listed or when a key below it is listed (a file may list a key without
// its parents).
bool keyExists(const RegFileDocument& document, std::string_view path);

} // namespace pellamark
