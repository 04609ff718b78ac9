#pragma once

#include "service/text/Utf8.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pellamark::service {

// Escapes the five characters that matter in HTML text and in quoted attribute values.
std::string htmlEscape(std::string_view text);

// Decodes %XX sequences; a malformed sequence is kept literally. When plusIsSpace is set, '+'
// becomes a space (form bodies); in a query string it stays a plus, because the client puts the
// e-mail address into its query unencoded and "a+b@example.org" must arrive as typed.
std::string percentDecode(std::string_view text, bool plusIsSpace);

// Percent-encodes every byte outside the unreserved set, for form bodies built by tools and tests.
std::string percentEncode(std::string_view text);

using Fields = std::vector<std::pair<std::string, std::string>>;

// Splits "a=1&b=2" into decoded pairs, in order; a key without '=' has the empty value.
Fields parseFields(std::string_view text, bool plusIsSpace);

// The value of the first field named key, if there is one.
std::optional<std::string> fieldValue(const Fields& fields, std::string_view key);

// The values of every field named key, in order.
std::vector<std::string> fieldValues(const Fields& fields, std::string_view key);

// Leading and trailing blanks (space, tab, CR, LF) removed.
std::string trim(std::string_view text);

// Makes a request target safe to send back in a Location header: bytes that may not appear in a
// header line, and anything outside printable ASCII, are percent-encoded.
std::string headerSafe(std::string_view text);

// Makes text safe for a one-line log entry: control bytes and backslashes become \xNN.
std::string logSafe(std::string_view text);

} // namespace pellamark::service
