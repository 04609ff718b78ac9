#include "app/frmMain.h"

#include "app/HelperLauncher.h"
#include "app/MainWindowSurface.h"
#include "base/Messages.h"
#include "base/RunTimeError.h"
#include "components/HtmlView.h"
#include "components/MessageBoxes.h"
#include "components/QtText.h"
#include "components/TrayIcon.h"
#include "dialogs/CoreHosts.h"
#include "settings/GlobalSettings.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QPointer>
#include <QWidget>

#include <algorithm>
#include <vector>

namespace pellamark {

frmMain::frmMain(Parts parts, QObject* parent)
    : QObject(parent), m_parts(std::move(parts)), m_surface(m_parts.surface) {
    setObjectName(QStringLiteral("frmMain"));
    buildTrayMenu();

    m_stateTimer.setSingleShot(true);
    m_stateTimer.setInterval(StateSettleMs);
    connect(&m_stateTimer, &QTimer::timeout, this, &frmMain::Form_Resize);
    connect(&m_parts.tray, &TrayIcon::TrayMouse, this, &frmMain::TrayMouse);
    connect(&m_surface, &MainWindowSurface::changed, this, &frmMain::windowStateMayHaveChanged);
    connect(&m_surface, &MainWindowSurface::closeCommand, this, &frmMain::closeCommand);
    connect(&m_surface, &MainWindowSurface::menuChosen, this, &frmMain::menuChosen);
    connect(&m_surface, &MainWindowSurface::lost, this, &frmMain::windowLost);
    connect(&m_surface, &MainWindowSurface::unavailable, this, &frmMain::windowUnavailable);
    m_parts.tray.OfferMenu(m_systraymenu.get());
}

frmMain::~frmMain() = default;

void frmMain::buildTrayMenu() {
    // Never in the menu bar: it is the tray's pop-up menu.
    m_systraymenu = std::make_unique<QMenu>(QStringLiteral("SysTrayMenu"));
    m_systraymenu->setObjectName(QStringLiteral("systraymenu"));
    auto addItem = [this](const char* name, const QString& caption, void (frmMain::*command)()) {
        QAction* action = m_systraymenu->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, [this, command] { (this->*command)(); });
        return action;
    };
    m_trayrestore = addItem("trayrestore", QStringLiteral("Restore"), &frmMain::Restore);
    m_trayoptions = addItem("trayoptions", QStringLiteral("Options"), &frmMain::Options);
    m_trayClose = addItem("trayClose", QStringLiteral("Exit"), &frmMain::Exit);
}

void frmMain::menuChosen(const QString& item) {
    if (item == QLatin1String("menuoptions"))
        Options();
    else if (item == QLatin1String("menuclose"))
        Exit();
    else if (item == QLatin1String("menupmhelp"))
        Help();
    else if (item == QLatin1String("menuabout"))
        About();
}

// ---- start-up ----------------------------------------------------------------------------

void frmMain::Form_Load() {
    // The single-instance test has already run in main, before the application object existed.
    try {
        m_parts.tray.AddIcon();
        m_parts.tray.TipText(qtText(ProgramTitle));
        m_surface.hide();
        m_surface.PageAddress(BlankPage);
        // With a stored profile the window follows the check: it starts getting ready now.
        if (m_parts.profileStored && m_parts.profileStored())
            m_surface.prepare();
        CoreHosts hosts(*this, m_dialogs);
        if (!m_parts.checkServer(hosts) || m_unloaded)
            return;
        m_parts.loadProfile(hosts);
        if (m_unloaded)
            return;
        m_trayrestore->setVisible(false);
    } catch (...) {
        const RunTimeError error = describeException(std::current_exception());
        m_parts.messageBoxes.MsgBox(qtText(loadErrorReport(error.number(), error.description())));
        unloadMain();
    }
}

// ---- window state ------------------------------------------------------------------------

void frmMain::fitView() {
    const QSize client = m_surface.clientSize();
    m_surface.setViewSize(std::max(0, client.width() - 2 * ViewMargin),
                          std::max(0, client.height() - 2 * ViewMargin));
}

void frmMain::windowStateMayHaveChanged() {
    // Hiding and showing again are not changes of their own; a change that happened while hidden
    // is still seen at the next show because the handling compares with what it last saw.
    if (!m_surface.isShown() || m_unloading)
        return;
    m_stateTimer.start();
}

void frmMain::Form_Resize() {
    m_stateTimer.stop();
    if (!m_surface.isShown() || m_unloading)
        return;
    const int state = m_surface.state();
    const QSize client = m_surface.clientSize();
    if (m_lastHandled && m_lastHandled->first == state &&
        (state == StateMinimised || m_lastHandled->second == client))
        return;
    m_lastHandled = std::make_pair(state, client);

    // Before the first handling there is no recorded state; it behaves as normal.
    const int last = m_lastWindowState.value_or(StateNormal);
    const QString favorites = QString::fromStdString(m_parts.settings.FavoritesUrl);
    switch (state) {
    case StateMaximised:
        fitView();
        if (last != StateNormal)
            m_surface.PageAddress(favorites);
        m_trayrestore->setVisible(false);
        m_lastWindowState = StateMaximised;
        break;
    case StateMinimised:
        m_surface.PageAddress(BlankPage);
        m_trayrestore->setVisible(true);
        m_lastWindowState = StateMinimised;
        break;
    default:
        fitView();
        if (last != StateNormal && last != StateMaximised)
            m_surface.PageAddress(favorites);
        m_trayrestore->setVisible(false);
        m_lastWindowState = StateNormal;
        break;
    }
}

// ---- close and unload --------------------------------------------------------------------

void frmMain::sessionEnding() {
    m_sessionEnding = true;
    unloadMain();
}

void frmMain::putAway() {
    // Without a notification area a hidden window could never be brought back (and a second
    // copy would end silently), so it is minimised instead.
    if (m_parts.tray.IsTrayAvailable())
        m_surface.hide();
    else
        m_surface.minimise();
}

void frmMain::closeCommand() {
    // The window's own close command puts it away; while the program or the session ends, it
    // ends the program like every other close.
    if (m_unloading || m_sessionEnding || qApp->isSavingSession()) {
        unloadMain();
        return;
    }
    if (!m_parts.tray.IsTrayAvailable()) {
        putAway();
        return;
    }
    m_trayrestore->setVisible(true);
    m_surface.PageAddress(BlankPage);
    m_surface.hide();
}

void frmMain::windowLost() {
    // The window went without being put away (its process died): the program carries on in the
    // tray as if the window had been closed to it, and Restore there brings a new window. That
    // window comes up as the last one was: showing it is no change of the window's state.
    if (m_unloading)
        return;
    m_stateTimer.stop();
    m_lastWindowState = m_surface.state();
    m_lastHandled = std::make_pair(m_surface.state(), m_surface.clientSize());
    m_trayrestore->setVisible(true);
    // Without a notification area nothing else could bring it back.
    if (!m_parts.tray.IsTrayAvailable())
        Restore();
}

void frmMain::windowUnavailable(const QString& reason, int endsInARow) {
    // Told once, after the command that met the failure has run its course; what else fails
    // while the user reads it adds nothing.
    if (m_unloading || m_tellingUnavailable)
        return;
    m_tellingUnavailable = true;
    QTimer::singleShot(0, this, [this, reason, endsInARow] {
        const bool tray = m_parts.tray.IsTrayAvailable();
        m_trayrestore->setVisible(true);
        m_parts.messageBoxes.MsgBox(
            qtText(windowUnavailableMessage(reason.toStdString(), endsInARow, tray)));
        m_tellingUnavailable = false;
        if (!tray)
            unloadMain();
    });
}

void frmMain::unloadMain() {
    if (m_unloaded)
        return;
    m_unloading = true;
    Form_Unload();
}

void frmMain::Form_Unload() {
    if (m_unloaded)
        return;
    m_unloaded = true;
    m_unloading = true;
    m_stateTimer.stop();
    if (m_parts.tray.IsIconShown())
        m_parts.tray.RemoveIcon();
    m_surface.hide();
    std::vector<QPointer<QWidget>> windows;
    for (QWidget* window : QApplication::topLevelWidgets())
        windows.emplace_back(window);
    for (const QPointer<QWidget>& window : windows) {
        if (window)
            window->hide();
        if (window)
            window->close();
    }
    m_surface.end();
    m_parts.endProcess();
}

// ---- commands ----------------------------------------------------------------------------

void frmMain::TrayMouse(int Code) {
    if (Code == TrayIcon::MenuCode) {
        focusMain(); // brings the program to the front so the menu closes on a click elsewhere
        if (!m_systraymenu->isVisible())
            m_systraymenu->popup(QCursor::pos());
        return;
    }
    m_surface.allowRestart();
    m_surface.show();
    focusMain();
    m_surface.PageAddress(QString::fromStdString(m_parts.settings.FavoritesUrl));
}

void frmMain::Restore() {
    m_surface.allowRestart();
    if (isMainMinimised())
        restoreMainToNormal();
    m_surface.PageAddress(QString::fromStdString(m_parts.settings.FavoritesUrl));
    m_surface.show();
    focusMain();
}

void frmMain::prepareDialogCommand() {
    m_surface.PageAddress(BlankPage);
    if (!isMainMinimised())
        putAway();
    m_trayoptions->setEnabled(false);
    m_trayrestore->setEnabled(false);
}

void frmMain::Options() {
    prepareDialogCommand();
    if (m_dialogs)
        m_dialogs->loadOptions();
}

void frmMain::About() {
    prepareDialogCommand();
    if (m_dialogs)
        m_dialogs->loadAbout();
}

void frmMain::Help() {
    if (!m_parts.launcher.openHelp())
        m_parts.messageBoxes.MsgBox(
            qtText(helpUnavailableMessage(m_parts.launcher.helpFilePath().toStdString())));
}

void frmMain::Exit() {
    unloadMain();
}

// ---- DialogHost --------------------------------------------------------------------------

void frmMain::PageAddress(const QString& address) {
    m_surface.PageAddress(address);
}

bool frmMain::isMainMinimised() const {
    return m_surface.state() == StateMinimised;
}

void frmMain::restoreMainToNormal() {
    m_surface.restoreNormal();
}

void frmMain::showMain() {
    m_surface.show();
}

void frmMain::focusMain() {
    m_surface.focus();
}

void frmMain::setTrayRestoreVisible(bool visible) {
    m_trayrestore->setVisible(visible);
    // A dialog closed by its close box offers Restore in the tray. With no tray to offer it in,
    // a hidden main window is minimised instead so that it can still be reached.
    if (visible && !m_unloading && !m_surface.isShown() && !m_parts.tray.IsTrayAvailable()) {
        m_surface.minimise();
        m_surface.show();
    }
}

void frmMain::setTrayRestoreEnabled(bool enabled) {
    m_trayrestore->setEnabled(enabled);
}

void frmMain::setTrayOptionsEnabled(bool enabled) {
    m_trayoptions->setEnabled(enabled);
}

MessageBoxes& frmMain::messageBoxes() {
    return m_parts.messageBoxes;
}

bool frmMain::openProgramFile(const QString& fileName) {
    return m_parts.launcher.openProgramFile(fileName);
}

} // namespace pellamark
