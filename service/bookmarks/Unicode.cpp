#include "service/bookmarks/Unicode.h"

#include <locale.h>
#include <wctype.h>

namespace pellamark::service::bookmarks {

namespace {

// The character classes of the C library's built-in UTF-8 locale, whatever locale the process
// itself runs in (the service is usually started in the plain "C" locale).
locale_t unicodeLocale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    return locale;
}

bool isCombiningMark(char32_t cp) {
    return (cp >= 0x0300 && cp <= 0x036F) || (cp >= 0x1AB0 && cp <= 0x1AFF) ||
           (cp >= 0x1DC0 && cp <= 0x1DFF) || (cp >= 0x20D0 && cp <= 0x20FF) ||
           (cp >= 0xFE20 && cp <= 0xFE2F);
}

} // namespace

bool isLetterOrDigit(char32_t cp) {
    if (cp < 0x80)
        return (cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z') || (cp >= '0' && cp <= '9');
    return isCombiningMark(cp) || iswalnum_l(static_cast<wint_t>(cp), unicodeLocale());
}

char32_t lowerCase(char32_t cp) {
    if (cp < 0x80)
        return (cp >= 'A' && cp <= 'Z') ? cp - 'A' + 'a' : cp;
    return static_cast<char32_t>(towlower_l(static_cast<wint_t>(cp), unicodeLocale()));
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (lowerCase(nextCodePoint(a, i)) != lowerCase(nextCodePoint(b, j)))
            return false;
    }
    return i == a.size() && j == b.size();
}

} // namespace pellamark::service::bookmarks
