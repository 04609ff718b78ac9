#include "service/store/Folding.h"

#include <algorithm>

namespace pellamark::service {

namespace {

// Base letters of U+00C0..U+00FF and U+0100..U+017F; '*' marks those written with two letters
// and '-' those that are not letters (the multiplication and division signs).
constexpr std::string_view Latin1Bases =
    "aaaaaa*ceeeeiiiidnooooo-ouuuuy**aaaaaa*ceeeeiiiidnooooo-ouuuuy*y";
constexpr std::string_view ExtendedABases = "aaaaaaccccccccdd"
                                            "ddeeeeeeeeeegggg"
                                            "gggghhhhiiiiiiii"
                                            "ii**jjkkklllllll"
                                            "lllnnnnnnnnnoooo"
                                            "oo**rrrrrrssssss"
                                            "ssttttttuuuuuuuu"
                                            "uuuuwwyyyzzzzzzs";
static_assert(Latin1Bases.size() == 0x40 && ExtendedABases.size() == 0x80);

std::string_view twoLetterBase(char32_t c) {
    switch (c) {
    case 0xC6:
    case 0xE6:
        return "ae";
    case 0xDE:
    case 0xFE:
        return "th";
    case 0xDF:
        return "ss";
    case 0x132:
    case 0x133:
        return "ij";
    case 0x152:
    case 0x153:
        return "oe";
    default:
        return {};
    }
}

char32_t lowerCodePoint(char32_t c) {
    if (c >= 'A' && c <= 'Z')
        return c + 32;
    if (c < 0xC0)
        return c;
    if (c <= 0xDE)
        return c == 0xD7 ? c : c + 32;
    if (c >= 0x100 && c <= 0x17F) {
        // Upper case at the even code points, except in U+0139..U+0148 and U+0179..U+017E.
        if (c == 0x130)
            return 'i';
        if (c == 0x178)
            return 0xFF;
        const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (c == 0x138 || c == 0x149 || c == 0x17F)
            return c;
        return (c % 2 == (oddUpper ? 1u : 0u)) ? c + 1 : c;
    }
    if ((c >= 0x391 && c <= 0x3A9 && c != 0x3A2))
        return c + 32;
    if (c >= 0x410 && c <= 0x42F)
        return c + 32;
    if (c >= 0x400 && c <= 0x40F)
        return c + 80;
    return c;
}

bool isCombiningMark(char32_t c) {
    return c >= 0x300 && c <= 0x36F;
}

std::string fold(std::string_view text, bool accents) {
    std::string out;
    out.reserve(text.size());
    // Most text (tags, addresses) is ASCII: its letters lowered as bytes, without decoding.
    if (std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; })) {
        for (char c : text)
            out += static_cast<char>(lowerCodePoint(static_cast<unsigned char>(c)));
        return out;
    }
    for (char32_t c : decodeUtf8(text)) {
        if (c < 0x80) {
            out += static_cast<char>(lowerCodePoint(c));
            continue;
        }
        if (accents && isCombiningMark(c))
            continue;
        if (accents && c >= 0xC0 && c <= 0x17F) {
            const char base = c < 0x100 ? Latin1Bases[c - 0xC0] : ExtendedABases[c - 0x100];
            if (base == '*') {
                out += twoLetterBase(c);
                continue;
            }
            if (base != '-') {
                out += base;
                continue;
            }
        }
        appendUtf8(out, lowerCodePoint(c));
    }
    return out;
}

} // namespace

bool isWordCodePoint(char32_t c) {
    if (c < 0x80)
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (c < 0xC0 || c == 0xD7 || c == 0xF7)
        return c == 0xAA || c == 0xB5 || c == 0xBA;
    // General punctuation, symbols, arrows, box drawing ... and the CJK and full-width
    // punctuation; the private use and special blocks.
    if ((c >= 0x2000 && c <= 0x2BFF) || (c >= 0x3000 && c <= 0x303F) ||
        (c >= 0xE000 && c <= 0xF8FF) || (c >= 0xFE10 && c <= 0xFE6F) ||
        (c >= 0xFF00 && c <= 0xFF0F) || (c >= 0xFFF0 && c <= 0xFFFF) || c == 0xFEFF)
        return false;
    return true;
}

std::string foldCase(std::string_view text) {
    return fold(text, false);
}

std::string foldForSearch(std::string_view text) {
    return fold(text, true);
}

std::vector<std::string> searchWords(std::string_view text) {
    std::vector<std::string> words;
    std::string word;
    for (char32_t c : decodeUtf8(foldForSearch(text))) {
        if (isWordCodePoint(c)) {
            appendUtf8(word, c);
        } else if (!word.empty()) {
            words.push_back(std::move(word));
            word.clear();
        }
    }
    if (!word.empty())
        words.push_back(std::move(word));
    return words;
}

std::string searchDocument(std::string_view text) {
    std::string out;
    for (const auto& word : searchWords(text)) {
        if (!out.empty())
            out += ' ';
        out += word;
    }
    return out;
}

std::string titleSortKey(std::string_view title) {
    return foldForSearch(title);
}

} // namespace pellamark::service
