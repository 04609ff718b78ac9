#include "service/text/Utf8.h"

namespace pellamark::service {

void appendUtf8(std::string& out, char32_t codePoint) {
    if (codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        codePoint = ReplacementCharacter;
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

char32_t nextCodePoint(std::string_view text, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    std::size_t extra = 0;
    char32_t codePoint = 0;
    if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        codePoint = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        codePoint = lead & 0x07;
    } else {
        ++pos;
        return ReplacementCharacter;
    }
    if (pos + extra >= text.size()) {
        ++pos;
        return ReplacementCharacter;
    }
    for (std::size_t k = 1; k <= extra; ++k) {
        const auto cont = static_cast<unsigned char>(text[pos + k]);
        if ((cont & 0xC0) != 0x80) {
            ++pos;
            return ReplacementCharacter;
        }
        codePoint = (codePoint << 6) | (cont & 0x3F);
    }
    static constexpr char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
    if (codePoint < minimum[extra] || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        ++pos;
        return ReplacementCharacter;
    }
    pos += extra + 1;
    return codePoint;
}

std::string validUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        // Runs of ASCII are by far the most common: copy them whole.
        const std::size_t start = pos;
        while (pos < text.size() && static_cast<unsigned char>(text[pos]) < 0x80)
            ++pos;
        out.append(text, start, pos - start);
        if (pos < text.size()) {
            const std::size_t before = pos;
            const char32_t codePoint = nextCodePoint(text, pos);
            if (codePoint == ReplacementCharacter && pos == before + 1)
                appendUtf8(out, ReplacementCharacter);
            else
                out.append(text, before, pos - before);
        }
    }
    return out;
}

bool isValidUtf8(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t before = pos;
        if (nextCodePoint(text, pos) == ReplacementCharacter && pos == before + 1)
            return false;
    }
    return true;
}

std::u32string decodeUtf8(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();)
        out += nextCodePoint(text, pos);
    return out;
}

std::size_t utf8Length(std::string_view text) {
    std::size_t count = 0;
    for (char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++count;
    }
    return count;
}

bool cutToChars(std::string& text, std::size_t maxChars) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (count == maxChars) {
                text.resize(i);
                return true;
            }
            ++count;
        }
    }
    return false;
}

} // namespace pellamark::service
