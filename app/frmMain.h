#pragma once

#include "dialogs/DialogHost.h"

#include <QMainWindow>
#include <QSize>
#include <QTimer>

#include <functional>
#include <optional>

class QAction;
class QMenu;

namespace pellamark {

struct GlobalSettings;
class ProfileHost;
class ServerCheckHost;
class HtmlView;
class TrayIcon;
class MessageBoxes;
class HelperLauncher;

// The window state as the program records it.
enum WindowState : int { StateNormal = 0, StateMinimised = 1, StateMaximised = 2 };

// The main window: owns the run from the load handler to the unload, hides to the tray on its own
// close command, keeps the page view fitted and shows the favourites page only while it is shown.
class frmMain : public QMainWindow, public DialogHost {
    Q_OBJECT
public:
    struct Parts {
        HtmlView& view; // its widget becomes a child of the window
        TrayIcon& tray;
        MessageBoxes& messageBoxes;
        HelperLauncher& launcher;
        GlobalSettings& settings;
        // The start-up check; false when it has told the user and unloaded the window.
        std::function<bool(ServerCheckHost&)> checkServer;
        std::function<void(ProfileHost&)> loadProfile;
        // Ends the process at once; the last thing the unload does.
        std::function<void()> endProcess;
    };

    // Window state changes and resizes arriving within this time count as one change: the
    // window system may report one maximise as a state change and a resize.
    static constexpr int StateSettleMs = 50;
    // Client area at design time.
    static constexpr int DesignClientWidth = 780;
    static constexpr int DesignClientHeight = 580;
    static constexpr int ViewMargin = 10;

    explicit frmMain(Parts parts, QWidget* parent = nullptr);
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

    // The window state handling (normally raised by the window system).
    void Form_Resize();
    std::optional<int> LastWindowState() const { return m_lastWindowState; }
    bool windowStateHandlingPending() const { return m_stateTimer.isActive(); }

    // The desktop session is ending: closes from now on end the program.
    void sessionEnding();

    QMenu* trayMenu() const { return m_systraymenu; }

    // DialogHost, which the core's routines reach through CoreHosts too.
    void setPageAddress(const QString& address) override;
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

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildMenus();
    void Form_Unload();
    void windowStateMayHaveChanged();
    void putAway();
    void prepareDialogCommand();
    int currentState() const;
    QSize clientSize() const;
    void fitView();

    Parts m_parts;
    DialogLoader* m_dialogs = nullptr;

    QAction* m_menuoptions = nullptr;
    QAction* m_menuclose = nullptr;
    QAction* m_menupmhelp = nullptr;
    QAction* m_menuabout = nullptr;
    QMenu* m_systraymenu = nullptr;
    QAction* m_trayrestore = nullptr;
    QAction* m_trayoptions = nullptr;
    QAction* m_trayClose = nullptr;

    std::optional<int> m_lastWindowState;
    // State and client size the last handling saw: repeats of the same picture are not changes.
    std::optional<std::pair<int, QSize>> m_lastHandled;
    QTimer m_stateTimer;

    bool m_sessionEnding = false;
    bool m_unloading = false;
    bool m_unloaded = false;
};

} // namespace pellamark
