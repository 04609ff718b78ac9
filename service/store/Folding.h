#pragma once

#include "service/text/Utf8.h"

#include <string>
#include <string_view>
#include <vector>

namespace pellamark::service {

// The text rules both stores share, computed here rather than in SQL so that SQLite and
// PostgreSQL (whatever its locale and extensions) index, match and order exactly alike.
//
// Case is folded for ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic; accents are taken off
// Latin letters (and combining marks dropped), so "Café" and "CAFE" are the same word.

// Letters in lower case; other characters as they are.
std::string foldCase(std::string_view text);
// Letters in lower case and without accents; other characters as they are.
std::string foldForSearch(std::string_view text);

// The words of a text for the search index and for a query: folded for search, split at
// everything that is not a letter or a digit.
std::vector<std::string> searchWords(std::string_view text);
// The same words joined by single spaces: what the stores' full-text indexes are given.
std::string searchDocument(std::string_view text);

// The key favourites are ordered by in title order: the title folded for search, so that
// "école" sorts beside "Ecole" and not after "zebra".
std::string titleSortKey(std::string_view title);

// Whether a code point counts as a letter or digit for words and tags: ASCII letters and
// digits, and anything beyond ASCII that is not punctuation, a symbol or a blank.
bool isWordCodePoint(char32_t codePoint);

} // namespace pellamark::service
