#pragma once

#include <string>
#include <string_view>

namespace pellamark::service::bookmarks {

// Decodes character references in UTF-8 text: the named ones of HTML 4 (every Latin-1, Greek,
// mathematical and punctuation name browsers write) and &apos;, which need their ';', and decimal
// and hexadecimal ones, whose ';' may be missing. An unknown name is kept literally, so an address
// such as "?a=1&copy=2" survives; a number that is no character gives U+FFFD, and 128-159 are
// read as windows-1252, as browsers do.
std::string decodeEntities(std::string_view text);

} // namespace pellamark::service::bookmarks
