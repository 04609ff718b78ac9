#pragma once

#include <QString>

namespace pellamark {

// Every message box of the program: OK only, no icon, titled with the program's title. Tests put a
// recording implementation in its place.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Shows the text and returns when the user has closed the box.
    virtual void MsgBox(const QString& text) = 0;
};

} // namespace pellamark
