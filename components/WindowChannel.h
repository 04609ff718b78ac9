#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

namespace pellamark {

// The messages between the program and its window process: one line each, in order, over the
// window process's standard input (to the window) and output (from it). Both sides encode and
// decode them here.
inline constexpr int WindowChannelVersion = 1;

struct WindowMessage {
    enum class Kind {
        // Both ways, first: the sender's channel version (number 0).
        Hello,
        // To the window.
        Show,
        Hide,
        Minimise,
        Restore, // the normal state
        Focus,
        Page,      // text: the address
        ViewSize,  // numbers 0, 1: width, height
        Placement, // data: the window's place, size and state, as the window last reported it
        // From the window.
        Close,  // the window system's close command
        State,  // numbers 0, 1, 2: window state, client width, client height
        Menu,   // text: the menu item chosen
        Placed, // data: as Placement
    };

    Kind kind = Kind::Hello;
    QString text;
    QByteArray data;
    std::array<int, 3> numbers{};

    friend bool operator==(const WindowMessage&, const WindowMessage&) = default;
};

// One line, newline included.
QByteArray encodeWindowMessage(const WindowMessage& message);
// A line with or without its newline; empty for a line that is not a message of this version.
std::optional<WindowMessage> decodeWindowMessage(QByteArray line);

} // namespace pellamark
