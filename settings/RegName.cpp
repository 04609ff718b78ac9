#include "settings/RegName.h"

#include <algorithm>

namespace pellamark {

namespace {

// Decodes one UTF-8 sequence at `pos`; returns its length, 0 when it is not valid UTF-8.
std::size_t decodeUtf8(std::string_view text, std::size_t pos, char32_t& cp) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    std::size_t length = 0;
    char32_t min = 0;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        cp = lead & 0x1F;
        min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        cp = lead & 0x0F;
        min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        cp = lead & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (pos + length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char next = byte(pos + i);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return length;
}

void encodeUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool inRange(char32_t c, char32_t first, char32_t last) {
    return c >= first && c <= last;
}

// Pairs laid out as upper case on one parity and lower case on the next code point.
char32_t foldPair(char32_t c, bool upperIsEven) {
    return ((c % 2 == 0) == upperIsEven) ? c + 1 : c;
}

char32_t foldCodePoint(char32_t c) {
    if (inRange(c, 'A', 'Z')) {
        return c + 32;
    }
    if (c < 0x80) {
        return c;
    }
    // Latin-1
    if (inRange(c, 0xC0, 0xDE) && c != 0xD7) {
        return c + 32;
    }
    if (c == 0xB5) {
        return 0x3BC; // micro sign and Greek mu are one letter to the registry
    }
    // Latin Extended-A
    if (inRange(c, 0x100, 0x12F) || inRange(c, 0x132, 0x137) || inRange(c, 0x14A, 0x177)) {
        return foldPair(c, true);
    }
    if (inRange(c, 0x139, 0x148) || inRange(c, 0x179, 0x17E)) {
        return foldPair(c, false);
    }
    if (c == 0x178) {
        return 0xFF;
    }
    if (c == 0x17F) {
        return 's';
    }
    // Greek
    if (c == 0x386) {
        return 0x3AC;
    }
    if (inRange(c, 0x388, 0x38A)) {
        return c + 37;
    }
    if (c == 0x38C) {
        return 0x3CC;
    }
    if (inRange(c, 0x38E, 0x38F)) {
        return c + 63;
    }
    if (inRange(c, 0x391, 0x3AB) && c != 0x3A2) {
        return c + 32;
    }
    if (c == 0x3C2) {
        return 0x3C3;
    }
    if (inRange(c, 0x3D8, 0x3EF)) {
        return foldPair(c, true);
    }
    // Cyrillic
    if (inRange(c, 0x400, 0x40F)) {
        return c + 80;
    }
    if (inRange(c, 0x410, 0x42F)) {
        return c + 32;
    }
    if (inRange(c, 0x460, 0x481) || inRange(c, 0x48A, 0x4BF) || inRange(c, 0x4D0, 0x52F)) {
        return foldPair(c, true);
    }
    if (c == 0x4C0) {
        return 0x4CF;
    }
    if (inRange(c, 0x4C1, 0x4CE)) {
        return foldPair(c, false);
    }
    return c;
}

bool hasControlCharacter(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}
} // namespace

bool isValidUtf8(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        char32_t cp = 0;
        const std::size_t length = decodeUtf8(text, pos, cp);
        if (length == 0) {
            return false;
        }
        pos += length;
    }
    return true;
}

std::string foldName(std::string_view name) {
    std::string folded;
    folded.reserve(name.size());
    std::size_t pos = 0;
    while (pos < name.size()) {
        char32_t cp = 0;
        const std::size_t length = decodeUtf8(name, pos, cp);
        if (length == 0) {
            folded.push_back(name[pos]);
            ++pos;
            continue;
        }
        encodeUtf8(foldCodePoint(cp), folded);
        pos += length;
    }
    return folded;
}

bool sameName(std::string_view a, std::string_view b) {
    // Most comparisons differ in plain ASCII or are identical; skip the decoding for those.
    if (a == b) {
        return true;
    }
    return foldName(a) == foldName(b);
}

bool isStorableValueName(std::string_view name) {
    return isValidUtf8(name) && !hasControlCharacter(name);
}

bool isStorableKeyPath(std::string_view path) {
    if (path.empty()) {
        return true;
    }
    if (!isStorableValueName(path) || path.front() == '\\' || path.back() == '\\' ||
        path.find("\\\\") != std::string_view::npos) {
        return false;
    }
    return true;
}
} // namespace pellamark
