#pragma once

#include "components/MainWindowWidget.h"
#include "dialogs/DialogHost.h"

#include <QObject>
#include <QSize>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QMenu;

namespace pellamark {

struct GlobalSettings;
class ProfileHost;
class ServerCheckHost;
class MainWindowSurface;
class TrayIcon;
class MessageBoxes;
class HelperLauncher;

// The main window's logic: owns the run from the load handler to the unload, hides to the tray on
// the window's own close command, keeps the page view fitted and shows the favourites page only
// while the window is shown. The window on screen is a surface it drives (MainWindowSurface);
// where it needs the window's state it uses what the surface last reported.
class frmMain : public QObject, public DialogHost {
    Q_OBJECT
public:
    struct Parts {
        MainWindowSurface& surface;
        TrayIcon& tray;
        MessageBoxes& messageBoxes;
        HelperLauncher& launcher;
        GlobalSettings& settings;
        // The start-up check; false when it has told the user and unloaded the window.
        std::function<bool(ServerCheckHost&)> checkServer;
        std::function<void(ProfileHost&)> loadProfile;
        // Ends the process at once; the last thing the unload does.
        std::function<void()> endProcess;
        // Whether a profile is stored, so that the window will be shown after the check: it is
        // then got ready while the check runs. May be empty.
        std::function<bool()> profileStored = {};
    };

    // Window state changes and resizes arriving within this time count as one change: the
    // window system may report one maximise as a state change and a resize.
    static constexpr int StateSettleMs = 50;
    static constexpr int ViewMargin = MainWindowWidget::ViewMargin;

    explicit frmMain(Parts parts, QObject* parent = nullptr);
    ~frmMain() override;

    void setDialogLoader(DialogLoader& loader) { m_dialogs = &loader; }

    // The load handler: runs the start-up steps under its error report.
    void Form_Load();

    // Commands.
    void TrayMouse(int Code);
    void Restore();
    void Options();
    void About();
    void Help();
    void Exit();

    // The window state handling (raised by the window's reports).
    void Form_Resize();
    std::optional<int> LastWindowState() const { return m_lastWindowState; }
    bool windowStateHandlingPending() const { return m_stateTimer.isActive(); }

    // A close that is not the window's own close command: ends the program.
    void close() { unloadMain(); }

    // The desktop session is ending: closes from now on end the program.
    void sessionEnding();

    QMenu* trayMenu() const { return m_systraymenu.get(); }

    // DialogHost, which the core's routines reach through CoreHosts too.
    void PageAddress(const QString& address) override;
    bool isMainMinimised() const override;
    void restoreMainToNormal() override;
    void showMain() override;
    void focusMain() override;
    void unloadMain() override;
    void setTrayRestoreVisible(bool visible) override;
    void setTrayRestoreEnabled(bool enabled) override;
    void setTrayOptionsEnabled(bool enabled) override;
    MessageBoxes& messageBoxes() override;
    bool openProgramFile(const QString& fileName) override;

private:
    void buildTrayMenu();
    void menuChosen(const QString& item);
    void closeCommand();
    void windowLost();
    void windowUnavailable(const QString& reason, int endsInARow);
    void Form_Unload();
    void windowStateMayHaveChanged();
    void putAway();
    void prepareDialogCommand();
    void fitView();

    Parts m_parts;
    MainWindowSurface& m_surface;
    DialogLoader* m_dialogs = nullptr;

    std::unique_ptr<QMenu> m_systraymenu;
    QAction* m_trayrestore = nullptr;
    QAction* m_trayoptions = nullptr;
    QAction* m_trayClose = nullptr;

    std::optional<int> m_lastWindowState;
    // State and client size the last handling saw: repeats of the same picture are not changes.
    std::optional<std::pair<int, QSize>> m_lastHandled;
    QTimer m_stateTimer;

    bool m_sessionEnding = false;
    bool m_tellingUnavailable = false;
    bool m_unloading = false;
    bool m_unloaded = false;
};

} // namespace pellamark
