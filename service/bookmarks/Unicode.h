#pragma once

#include "service/text/Utf8.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace pellamark::service::bookmarks {

// Letters, digits and the marks that combine with them (so a decomposed "é" stays one letter).
bool isLetterOrDigit(char32_t cp);

// The lower-case form used to compare names without regard to case.
char32_t lowerCase(char32_t cp);

// Both texts equal when compared without regard to case.
bool equalIgnoringCase(std::string_view a, std::string_view b);

} // namespace pellamark::service::bookmarks
