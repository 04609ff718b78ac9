#pragma once

#include <QObject>
#include <QSize>
#include <QString>

namespace pellamark {

// What the main window's logic (frmMain) sees of the window on screen: the commands it gives it
// and the picture the window last reported. The window itself lives in a process of its own
// (ProcessWindowSurface); the logic's tests drive one in their own process.
class MainWindowSurface : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Commands, carried out in the order given.
    virtual void show() = 0;
    virtual void hide() = 0;
    virtual void minimise() = 0;
    virtual void restoreNormal() = 0;
    virtual void focus() = 0;
    virtual void PageAddress(const QString& address) = 0;
    virtual void setViewSize(int width, int height) = 0;
    // The window will soon be needed: get it ready without showing it.
    virtual void prepare() {}
    // The window is gone for good: the program is ending.
    virtual void end() {}
    // The user asks for the window: a window that kept ending at once is tried again.
    virtual void allowRestart() {}

    // Shown (also minimised), as the logic last asked and the window has not gone since. The
    // state is the last reported, or what the logic commanded since.
    virtual bool isShown() const = 0;
    // As last reported: a WindowState and the client area's size.
    virtual int state() const = 0;
    virtual QSize clientSize() const = 0;

Q_SIGNALS:
    void closeCommand();
    // The state, the client size or the visibility may have changed.
    void changed();
    void menuChosen(const QString& item);
    // The window went away without being told to (its process died); it is hidden now.
    void lost();
    // The window could not be put on screen: it could not be started (endsInARow 0), or it
    // ended by itself right after starting, that many times in a row. The reason in plain words.
    void unavailable(const QString& reason, int endsInARow);
};

} // namespace pellamark
