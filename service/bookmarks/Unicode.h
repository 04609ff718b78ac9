#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pellamark::service::bookmarks {

inline constexpr char32_t kReplacement = 0xFFFD;

// Appends the UTF-8 form of a code point; one that is no character (a surrogate, past U+10FFFF)
// is appended as U+FFFD.
void appendUtf8(std::string& out, char32_t cp);

// The code point at text[pos], advancing pos past it. An invalid or cut sequence gives U+FFFD and
// advances by one byte, so every byte of broken input becomes one replacement character.
char32_t nextCodePoint(std::string_view text, std::size_t& pos);

// The text with every invalid UTF-8 sequence replaced by U+FFFD.
std::string validUtf8(std::string_view text);

// Cuts valid UTF-8 after its first maxChars code points; true when something was cut.
bool cutToChars(std::string& text, std::size_t maxChars);

// Letters, digits and the marks that combine with them (so a decomposed "é" stays one letter).
bool isLetterOrDigit(char32_t cp);

// The lower-case form used to compare names without regard to case.
char32_t lowerCase(char32_t cp);

// Both texts equal when compared without regard to case.
bool equalIgnoringCase(std::string_view a, std::string_view b);

} // namespace pellamark::service::bookmarks
