#pragma once

#include <QObject>
#include <QString>

class QMenu;

namespace pellamark {

// The program's icon in the notification area (PBTray1). It reports mouse actions as intent and
// never shows a menu of its own: the main window decides what a click means.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~TrayIcon() override = default;

    // The Code of a TrayMouse that asks for the pop-up menu; every other code asks for the window.
    static constexpr int MenuCode = 2;
    static constexpr int WindowCode = 1;

    virtual void AddIcon() = 0;
    virtual void TipText(const QString& text) = 0;
    virtual bool IsIconShown() const = 0;
    virtual void RemoveIcon() = 0;
    // Whether the desktop has a notification area right now. Without one, putting the window
    // away must not hide it, or the user could never get it back.
    virtual bool IsTrayAvailable() const = 0;
    // The pop-up menu the main window shows for MenuCode. A notification area that shows the
    // menus of its icons itself (over D-Bus) is given it, with its items' states, and then opens
    // it without asking for MenuCode.
    virtual void OfferMenu(QMenu* menu) { static_cast<void>(menu); }

Q_SIGNALS:
    void TrayMouse(int Code);
};

} // namespace pellamark
