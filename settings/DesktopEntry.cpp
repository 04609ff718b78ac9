#include "settings/DesktopEntry.h"

#include <vector>

namespace pellamark {

namespace {

constexpr std::string_view Reserved = " \t\n\"'\\><~|&;$*?#()`";

// Escapes of the desktop entry "string" value type.
std::string escapeStringValue(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\') {
            out += "\\\\";
        } else if (c == ' ' && i == 0) {
            out += "\\s"; // a leading blank would be dropped by readers
        } else if (c == '\t') {
            out += "\\t";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string unescapeStringValue(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out.push_back(text[i]);
            continue;
        }
        switch (text[++i]) {
        case 's':
            out.push_back(' ');
            break;
        case 'n':
            out.push_back('\n');
            break;
        case 't':
            out.push_back('\t');
            break;
        case 'r':
            out.push_back('\r');
            break;
        case '\\':
            out.push_back('\\');
            break;
        default:
            out.push_back('\\');
            out.push_back(text[i]);
        }
    }
    return out;
}

std::string undoExecQuoting(std::string_view exec) {
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false;
    bool quoted = false;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else if (c == '\\' && i + 1 < exec.size() &&
                       std::string_view("\"`$\\").find(exec[i + 1]) != std::string_view::npos) {
                current.push_back(exec[++i]);
            } else if (c == '%' && i + 1 < exec.size() && exec[i + 1] == '%') {
                current.push_back(exec[++i]);
            } else {
                current.push_back(c);
            }
            continue;
        }
        if (c == ' ' || c == '\t') {
            if (inArgument) {
                arguments.push_back(std::move(current));
                current.clear();
                inArgument = false;
            }
            continue;
        }
        inArgument = true;
        if (c == '"') {
            quoted = true;
        } else if (c == '%' && i + 1 < exec.size() && exec[i + 1] == '%') {
            current.push_back(exec[++i]);
        } else {
            current.push_back(c);
        }
    }
    if (inArgument) {
        arguments.push_back(std::move(current));
    }
    std::string joined;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i != 0) {
            joined.push_back(' ');
        }
        joined += arguments[i];
    }
    return joined;
}

} // namespace

std::string execValueForArgument(std::string_view argument) {
    std::string exec;
    const bool quote =
        argument.empty() || argument.find_first_of(Reserved) != std::string_view::npos;
    if (quote) {
        exec.push_back('"');
    }
    for (char c : argument) {
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) {
            exec.push_back('\\');
        }
        exec.push_back(c);
        if (c == '%') {
            exec.push_back('%');
        }
    }
    if (quote) {
        exec.push_back('"');
    }
    std::string escaped;
    for (char c : exec) {
        if (c == '\\') {
            escaped.push_back('\\');
        }
        escaped.push_back(c);
    }
    return escaped;
}

std::string desktopEntryText(std::string_view name, std::string_view command) {
    std::string text = "[Desktop Entry]\n"
                       "Type=Application\n";
    text += "Name=" + escapeStringValue(name) + "\n";
    text += "Exec=" + execValueForArgument(command) + "\n";
    text += "Terminal=false\n"
            "X-GNOME-Autostart-enabled=true\n";
    return text;
}

std::optional<std::string> desktopEntryCommand(std::string_view text) {
    bool inMainGroup = false;
    std::optional<std::string> exec;
    bool hidden = false;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup) {
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        std::string_view key = line.substr(0, equals);
        std::string_view value = line.substr(equals + 1);
        while (!key.empty() && key.back() == ' ') {
            key.remove_suffix(1);
        }
        while (!value.empty() && value.front() == ' ') {
            value.remove_prefix(1);
        }
        if (key == "Exec") {
            exec = undoExecQuoting(unescapeStringValue(value));
        } else if (key == "Hidden") {
            hidden = value == "true";
        }
    }
    if (hidden) {
        return std::nullopt;
    }
    return exec;
}

} // namespace pellamark
