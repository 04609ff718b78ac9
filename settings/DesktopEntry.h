#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pellamark {

// Autostart entries (freedesktop desktop entries) standing in for values of the Run key.

// The text of an entry called `name` that starts `command`. The command is one argument, the
// program's full path, exactly as the Run value holds it. Both texts must be UTF-8 without
// control characters.
std::string desktopEntryText(std::string_view name, std::string_view command);

// The command an entry starts, turned back into the text it was made from: string escapes and
// Exec quoting undone, arguments joined by one blank. Nullopt when the text has no Exec key in
// its [Desktop Entry] group or the entry is marked Hidden (a deleted autostart entry).
std::optional<std::string> desktopEntryCommand(std::string_view text);

// One Exec argument, quoted when it holds a reserved character, with % doubled and the string
// escape of the backslash applied: ready to follow "Exec=".
std::string execValueForArgument(std::string_view argument);

} // namespace pellamark
