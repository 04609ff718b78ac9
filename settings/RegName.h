#pragma once

#include <string>
#include <string_view>

namespace pellamark {

// Names of keys and values as the registry compares and keeps them.

// Case-insensitive name comparison as the registry does it: the UTF-8 text with every letter
// mapped to its lower-case form (ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic). Invalid
// UTF-8 bytes are kept as they are.
std::string foldName(std::string_view name);
bool sameName(std::string_view a, std::string_view b);

// Whether the text is well-formed UTF-8 (no overlong forms, no surrogates).
bool isValidUtf8(std::string_view text);

// Whether a value name / key path can be kept in the file: UTF-8 without control characters;
// a key path also has no empty parts.
bool isStorableValueName(std::string_view name);
bool isStorableKeyPath(std::string_view path);

} // namespace pellamark
