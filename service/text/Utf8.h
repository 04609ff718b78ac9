#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// UTF-8 as every part of the service reads and writes it: typed fields, the store's folding and
// tags, bookmark files in any shape.
namespace pellamark::service {

inline constexpr char32_t ReplacementCharacter = 0xFFFD;

// Appends the UTF-8 form of a code point; one that is no character (a surrogate, past U+10FFFF)
// is appended as U+FFFD.
void appendUtf8(std::string& out, char32_t codePoint);

// The code point at text[pos], advancing pos past it. An invalid or cut sequence (overlong forms
// and surrogates included) gives U+FFFD and advances by one byte, so every byte of broken input
// becomes one replacement character.
char32_t nextCodePoint(std::string_view text, std::size_t& pos);

bool isValidUtf8(std::string_view text);
// The text with every invalid UTF-8 sequence replaced by U+FFFD.
std::string validUtf8(std::string_view text);
// The code points of the text, U+FFFD for each byte of an invalid sequence.
std::u32string decodeUtf8(std::string_view text);

// The code points in valid UTF-8.
std::size_t utf8Length(std::string_view text);
// Cuts valid UTF-8 after its first maxChars code points; true when something was cut.
bool cutToChars(std::string& text, std::size_t maxChars);

} // namespace pellamark::service
