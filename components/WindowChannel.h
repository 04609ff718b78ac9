#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

namespace pellamark {

// The messages between the program and its window process: one line each, in order, over the
// window process's standard input (to the window) and output (from it). Both sides encode and
// decode them here.
//
// The commands that change the window (show, hide, minimise, restore) carry a number that grows
// with each; every state report carries the number of the last one the window had carried out
// when it took its picture. A report that predates the program's latest command tells of a window
// that has since been changed, so the program goes by what it commanded until a newer one comes.
inline constexpr int WindowChannelVersion = 3;

struct WindowMessage {
    enum class Kind {
        // Both ways, first: the sender's channel version (number 0).
        Hello,
        // To the window. Show, Hide, Minimise and Restore carry their number (0).
        Show,
        Hide,
        Minimise,
        Restore, // the normal state
        Focus,
        Prepare,   // start the page view's engine now, though the window is not shown yet
        Page,      // text: the address
        ViewSize,  // numbers 0, 1: width, height
        Placement, // data: the window's place, size and state, as the window last reported it
        Zoom,      // number 0: the pages' zoom in percent, as the window last reported it
        // From the window.
        Close, // the window system's close command
        // Numbers 0, 1, 2, 3: window state, client width, client height, the number of the last
        // command carried out. Sent once the window system has settled, and after every command
        // that changes the window.
        State,
        Menu,   // text: the menu item chosen
        Placed, // data: as Placement
        Zoomed, // number 0: the zoom the user set, in percent
        Renew,  // the window wants to be made anew (its page view must start afresh)
    };

    Kind kind = Kind::Hello;
    QString text;
    QByteArray data;
    std::array<int, 4> numbers{};

    friend bool operator==(const WindowMessage&, const WindowMessage&) = default;
};

// One line, newline included.
QByteArray encodeWindowMessage(const WindowMessage& message);
// A line with or without its newline; empty for a line that is not a message of this version.
std::optional<WindowMessage> decodeWindowMessage(QByteArray line);

} // namespace pellamark
