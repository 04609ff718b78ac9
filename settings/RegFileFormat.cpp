#include "settings/RegFileFormat.h"

#include "settings/RegTypes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_map>

namespace pellamark {

namespace {

constexpr std::string_view Header = "Windows Registry Editor Version 5.00";
constexpr std::string_view Root = "HKEY_CURRENT_USER";
// ---- writing ----

void appendQuoted(std::string& out, std::string_view text) {
    out.push_back('"');
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    out.push_back('"');
}

void appendHexBytes(std::string& out, const std::vector<std::uint8_t>& data) {
    static constexpr char digits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (i != 0) {
            out.push_back(',');
        }
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 0x0F]);
    }
}

// A REG_SZ goes out as quoted text only when reading that text back gives the very same bytes.
bool isPlainText(const RegFileValue& value) {
    if (value.type != REG_SZ_ || value.data.empty() || value.data.back() != 0) {
        return false;
    }
    const std::string_view text(reinterpret_cast<const char*>(value.data.data()),
                                value.data.size() - 1);
    return text.find('\0') == std::string_view::npos && isValidUtf8(text) &&
           text.find_first_of("\r\n") == std::string_view::npos;
}

void appendValue(std::string& out, const RegFileValue& value) {
    if (value.name.empty()) {
        out.push_back('@');
    } else {
        appendQuoted(out, value.name);
    }
    out.push_back('=');
    if (isPlainText(value)) {
        appendQuoted(out, std::string_view(reinterpret_cast<const char*>(value.data.data()),
                                           value.data.size() - 1));
    } else if (value.type == REG_DWORD_ && value.data.size() == DwordSize) {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "dword:%08x",
                      static_cast<unsigned>(unpackDword(value.data.data())));
        out += buffer;
    } else {
        if (value.type == REG_BINARY_) {
            out += "hex:";
        } else {
            char buffer[24];
            std::snprintf(buffer, sizeof buffer, "hex(%x):", static_cast<unsigned>(value.type));
            out += buffer;
        }
        appendHexBytes(out, value.data);
    }
    out.push_back('\n');
}

// ---- reading ----

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Reads a quoted text at the start of `line` (escapes \\ and \"); advances `line` past it.
std::optional<std::string> readQuoted(std::string_view& line) {
    if (line.empty() || line.front() != '"') {
        return std::nullopt;
    }
    std::string text;
    std::size_t i = 1;
    while (i < line.size()) {
        const char c = line[i];
        if (c == '"') {
            line.remove_prefix(i + 1);
            return text;
        }
        if (c == '\\') {
            if (i + 1 >= line.size() || (line[i + 1] != '\\' && line[i + 1] != '"')) {
                return std::nullopt;
            }
            text.push_back(line[i + 1]);
            i += 2;
            continue;
        }
        text.push_back(c);
        ++i;
    }
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> readHexBytes(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    if (text.empty()) {
        return bytes;
    }
    while (true) {
        if (text.size() < 2) {
            return std::nullopt;
        }
        const int high = hexDigit(text[0]);
        const int low = hexDigit(text[1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
        text.remove_prefix(2);
        if (text.empty()) {
            return bytes;
        }
        if (text.front() != ',') {
            return std::nullopt;
        }
        text.remove_prefix(1);
    }
}

std::optional<RegFileValue> readValueLine(std::string_view line) {
    RegFileValue value;
    if (!line.empty() && line.front() == '@') {
        line.remove_prefix(1);
    } else {
        auto name = readQuoted(line);
        if (!name || name->empty()) {
            return std::nullopt;
        }
        value.name = std::move(*name);
    }
    if (line.empty() || line.front() != '=') {
        return std::nullopt;
    }
    line.remove_prefix(1);

    if (!line.empty() && line.front() == '"') {
        auto text = readQuoted(line);
        if (!text || !line.empty()) {
            return std::nullopt;
        }
        value.type = REG_SZ_;
        value.data.assign(text->begin(), text->end());
        value.data.push_back(0);
        return value;
    }
    if (line.substr(0, 6) == "dword:") {
        line.remove_prefix(6);
        if (line.size() != 8) {
            return std::nullopt;
        }
        std::uint32_t raw = 0;
        for (char c : line) {
            const int digit = hexDigit(c);
            if (digit < 0) {
                return std::nullopt;
            }
            raw = raw * 16 + static_cast<std::uint32_t>(digit);
        }
        value.type = REG_DWORD_;
        const auto bytes = packDword(raw);
        value.data.assign(bytes.begin(), bytes.end());
        return value;
    }
    if (line.substr(0, 4) == "hex:") {
        line.remove_prefix(4);
        value.type = REG_BINARY_;
    } else if (line.substr(0, 4) == "hex(") {
        line.remove_prefix(4);
        const auto close = line.find("):");
        if (close == std::string_view::npos || close == 0 || close > 8) {
            return std::nullopt;
        }
        std::uint32_t type = 0;
        for (char c : line.substr(0, close)) {
            const int digit = hexDigit(c);
            if (digit < 0) {
                return std::nullopt;
            }
            type = type * 16 + static_cast<std::uint32_t>(digit);
        }
        value.type = type;
        line.remove_prefix(close + 2);
    } else {
        return std::nullopt;
    }
    auto bytes = readHexBytes(line);
    if (!bytes) {
        return std::nullopt;
    }
    value.data = std::move(*bytes);
    return value;
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// Splits into lines (LF or CRLF) and joins hex lists continued with a trailing backslash, as
// exported files wrap long binary values.
std::vector<std::string> logicalLines(std::string_view text) {
    std::vector<std::string> lines;
    std::string pending;
    bool continuing = false;
    while (!text.empty()) {
        auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (continuing) {
            line = trimBlanks(line);
        }
        pending.append(line);
        continuing = pending.size() >= 2 && pending.back() == '\\' &&
                     pending[pending.size() - 2] == ',' &&
                     pending.find("=hex") != std::string::npos;
        if (continuing) {
            pending.pop_back();
        }
        if (!continuing) {
            lines.push_back(std::move(pending));
            pending.clear();
        }
    }
    if (continuing) {
        lines.push_back(std::move(pending));
    }
    return lines;
}

} // namespace

std::string serializeRegFile(const RegFileDocument& document) {
    std::string out(Header);
    out += "\n\n";
    bool first = true;
    for (const RegFileKey& key : document.keys) {
        if (!first) {
            out.push_back('\n');
        }
        first = false;
        out.push_back('[');
        out += Root;
        if (!key.path.empty()) {
            out.push_back('\\');
            out += key.path;
        }
        out += "]\n";
        for (const RegFileValue& value : key.values) {
            appendValue(out, value);
        }
    }
    return out;
}

std::optional<RegFileDocument> parseRegFile(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    if (text.empty() || text.find('\0') != std::string_view::npos || !isValidUtf8(text)) {
        return std::nullopt;
    }
    const std::vector<std::string> lines = logicalLines(text);
    if (lines.empty() || lines.front() != Header) {
        return std::nullopt;
    }
    RegFileDocument document;
    RegFileKey* current = nullptr;
    std::unordered_map<std::string, std::size_t> keyIndex;
    std::vector<std::unordered_map<std::string, std::size_t>> seenValues; // per key
    std::size_t currentIndex = 0;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        if (trimBlanks(line).empty() || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            if (line.back() != ']') {
                return std::nullopt;
            }
            std::string_view name = line.substr(1, line.size() - 2);
            if (name.substr(0, Root.size()) != Root) {
                return std::nullopt;
            }
            name.remove_prefix(Root.size());
            if (!name.empty()) {
                if (name.front() != '\\') {
                    return std::nullopt;
                }
                name.remove_prefix(1);
                if (name.empty()) {
                    return std::nullopt;
                }
            }
            if (!isStorableKeyPath(name)) {
                return std::nullopt;
            }
            const auto [where, inserted] = keyIndex.emplace(foldName(name), document.keys.size());
            if (inserted) {
                document.keys.push_back(RegFileKey{std::string(name), {}});
                seenValues.emplace_back();
            }
            currentIndex = where->second;
            current = &document.keys[currentIndex];
            continue;
        }
        if (current == nullptr) {
            return std::nullopt;
        }
        auto value = readValueLine(line);
        if (!value || !isStorableValueName(value->name)) {
            return std::nullopt;
        }
        // A name listed twice: the later line wins, as it would on import.
        auto& seen = seenValues[currentIndex];
        const auto [where, inserted] = seen.emplace(foldName(value->name), current->values.size());
        if (inserted) {
            current->values.push_back(std::move(*value));
        } else {
            current->values[where->second] = std::move(*value);
        }
    }
    return document;
}

RegFileKey* findKey(RegFileDocument& document, std::string_view path) {
    const std::string folded = foldName(path);
    for (RegFileKey& key : document.keys) {
        if (key.path == path || foldName(key.path) == folded) {
            return &key;
        }
    }
    return nullptr;
}

const RegFileKey* findKey(const RegFileDocument& document, std::string_view path) {
    return findKey(const_cast<RegFileDocument&>(document), path);
}

RegFileValue* findValue(RegFileKey& key, std::string_view name) {
    const std::string folded = foldName(name);
    for (RegFileValue& value : key.values) {
        if (value.name == name || foldName(value.name) == folded) {
            return &value;
        }
    }
    return nullptr;
}

const RegFileValue* findValue(const RegFileKey& key, std::string_view name) {
    return findValue(const_cast<RegFileKey&>(key), name);
}

bool keyExists(const RegFileDocument& document, std::string_view path) {
    if (path.empty()) {
        return true;
    }
    const std::string folded = foldName(path);
    for (const RegFileKey& key : document.keys) {
        const std::string candidate = foldName(key.path);
        if (candidate.size() >= folded.size() && candidate.compare(0, folded.size(), folded) == 0 &&
            (candidate.size() == folded.size() || candidate[folded.size()] == '\\')) {
            return true;
        }
    }
    return false;
}

} // namespace pellamark
