#pragma once

#include <QString>

namespace pellamark {

class MessageBoxes;

// What the three dialogs need from the main window and the program. The main window implements
// it; dialog tests use a recording stand-in.
class DialogHost {
public:
    virtual ~DialogHost() = default;

    // HTML1.PageAddress on the main window's view.
    virtual void PageAddress(const QString& address) = 0;

    // The main window.
    virtual bool isMainMinimised() const = 0;
    virtual void restoreMainToNormal() = 0; // sets the normal state (runs the resize handling)
    virtual void showMain() = 0;            // modeless
    virtual void focusMain() = 0;
    // Closes the main window for good, which ends the program.
    virtual void unloadMain() = 0;

    // The tray menu's shared items.
    virtual void setTrayRestoreVisible(bool visible) = 0;
    virtual void setTrayRestoreEnabled(bool enabled) = 0;
    virtual void setTrayOptionsEnabled(bool enabled) = 0;

    virtual MessageBoxes& messageBoxes() = 0;

    // Opens a file that ships with the program with the desktop's default handler (Linux), or the
    // editor (Windows); false when that could not be started.
    virtual bool openProgramFile(const QString& fileName) = 0;
};

// Loads the dialogs; loading one that is already open does nothing.
class DialogLoader {
public:
    virtual ~DialogLoader() = default;
    virtual void loadSignUp() = 0;
    virtual void loadOptions() = 0;
    virtual void loadAbout() = 0;
};

} // namespace pellamark
