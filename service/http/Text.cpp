#include "service/http/Text.h"

#include <cstdio>

namespace pellamark::service {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void appendHexByte(std::string& out, char prefix, unsigned char byte) {
    static constexpr char digits[] = "0123456789ABCDEF";
    out += prefix;
    out += digits[byte >> 4];
    out += digits[byte & 0x0F];
}

} // namespace

std::string htmlEscape(std::string_view text) {
    // Whole runs between the five characters at a time: a page is mostly this.
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char* entity = nullptr;
        switch (text[i]) {
        case '&':
            entity = "&amp;";
            break;
        case '<':
            entity = "&lt;";
            break;
        case '>':
            entity = "&gt;";
            break;
        case '"':
            entity = "&quot;";
            break;
        case '\'':
            entity = "&#39;";
            break;
        default:
            continue;
        }
        out.append(text.data() + run, i - run);
        out += entity;
        run = i + 1;
    }
    out.append(text.data() + run, text.size() - run);
    return out;
}

std::string percentDecode(std::string_view text, bool plusIsSpace) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && i + 2 < text.size()) {
            const int hi = hexValue(text[i + 1]);
            const int lo = hexValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += (c == '+' && plusIsSpace) ? ' ' : c;
    }
    return out;
}

std::string percentEncode(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                                (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' ||
                                c == '~';
        if (unreserved)
            continue;
        out.append(text.data() + run, i - run);
        appendHexByte(out, '%', byte);
        run = i + 1;
    }
    out.append(text.data() + run, text.size() - run);
    return out;
}

Fields parseFields(std::string_view text, bool plusIsSpace) {
    Fields fields;
    while (!text.empty()) {
        const auto amp = text.find('&');
        const std::string_view part = text.substr(0, amp);
        text = amp == std::string_view::npos ? std::string_view{} : text.substr(amp + 1);
        if (part.empty())
            continue;
        const auto eq = part.find('=');
        if (eq == std::string_view::npos)
            fields.emplace_back(percentDecode(part, plusIsSpace), std::string{});
        else
            fields.emplace_back(percentDecode(part.substr(0, eq), plusIsSpace),
                                percentDecode(part.substr(eq + 1), plusIsSpace));
    }
    return fields;
}

std::optional<std::string> fieldValue(const Fields& fields, std::string_view key) {
    for (const auto& [name, value] : fields) {
        if (name == key)
            return value;
    }
    return std::nullopt;
}

std::vector<std::string> fieldValues(const Fields& fields, std::string_view key) {
    std::vector<std::string> values;
    for (const auto& [name, value] : fields)
        if (name == key)
            values.push_back(value);
    return values;
}

std::string trim(std::string_view text) {
    constexpr std::string_view blanks = " \t\r\n";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(blanks);
    return std::string(text.substr(first, last - first + 1));
}

std::string headerSafe(std::string_view text) {
    std::string out;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || c == '"' || c == '<' || c == '>' || c == '\\')
            appendHexByte(out, '%', byte);
        else
            out += c;
    }
    return out;
}

std::string logSafe(std::string_view text) {
    std::string out;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '\\') {
            out += '\\';
            appendHexByte(out, 'x', byte);
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace pellamark::service
