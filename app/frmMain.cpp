#include "app/frmMain.h"

#include "app/HelperLauncher.h"
#include "components/HtmlView.h"
#include "components/MessageBox.h"
#include "components/ProgramIcon.h"
#include "components/QtText.h"
#include "components/TrayIcon.h"
#include "components/WindowSystem.h"
#include "dialogs/CoreHosts.h"
#include "settings/GlobalSettings.h"
#include "settings/Messages.h"
#include "settings/RunTimeError.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>

#include <algorithm>
#include <vector>

namespace pellamark {

namespace {} // namespace

frmMain::frmMain(Parts parts, QWidget* parent) : QMainWindow(parent), m_parts(std::move(parts)) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(qtText(ProgramTitle));
    setWindowIcon(programIcon());
    QFont font(QStringLiteral("Verdana"));
    font.setPointSizeF(8.25);
    font.setWeight(QFont::Normal);
    setFont(font);

    buildMenus();

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);
    QWidget* view = m_parts.view.widget();
    view->setParent(client);
    view->setObjectName(QStringLiteral("HTML1"));
    view->setGeometry(ViewMargin, ViewMargin, DesignClientWidth - 2 * ViewMargin,
                      DesignClientHeight - 2 * ViewMargin);
    view->show();

    resize(DesignClientWidth, DesignClientHeight + menuBar()->sizeHint().height());
    // Centred where the window system lets a program place its windows; elsewhere (Wayland) the
    // compositor places it.
    if (QScreen* screen = this->screen(); screen && windowSystemLetsProgramsPlaceWindows())
        move(screen->availableGeometry().center() - rect().center());

    m_stateTimer.setSingleShot(true);
    m_stateTimer.setInterval(StateSettleMs);
    connect(&m_stateTimer, &QTimer::timeout, this, &frmMain::Form_Resize);
    connect(&m_parts.tray, &TrayIcon::TrayMouse, this, &frmMain::TrayMouse);
    m_parts.tray.OfferMenu(m_systraymenu);
}

frmMain::~frmMain() = default;

void frmMain::buildMenus() {
    auto addItem = [this](QMenu* menu, const char* name, const QString& caption,
                          void (frmMain::*command)()) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, [this, command] { (this->*command)(); });
        return action;
    };

    QMenu* file = menuBar()->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("file"));
    m_menuoptions = addItem(file, "menuoptions", QStringLiteral("Options"), &frmMain::Options);
    m_menuclose = addItem(file, "menuclose", QStringLiteral("Exit"), &frmMain::Exit);

    QMenu* help = menuBar()->addMenu(QStringLiteral("Help"));
    help->setObjectName(QStringLiteral("menuhelp"));
    m_menupmhelp = addItem(help, "menupmhelp", QStringLiteral("Pellamark Help"), &frmMain::Help);
    m_menuabout = addItem(help, "menuabout", QStringLiteral("About"), &frmMain::About);

    // Never in the menu bar: it is the tray's pop-up menu.
    m_systraymenu = new QMenu(QStringLiteral("SysTrayMenu"), this);
    m_systraymenu->setObjectName(QStringLiteral("systraymenu"));
    m_trayrestore =
        addItem(m_systraymenu, "trayrestore", QStringLiteral("Restore"), &frmMain::Restore);
    m_trayoptions =
        addItem(m_systraymenu, "trayoptions", QStringLiteral("Options"), &frmMain::Options);
    m_trayClose = addItem(m_systraymenu, "trayClose", QStringLiteral("Exit"), &frmMain::Exit);
}

// ---- start-up ----------------------------------------------------------------------------

void frmMain::Form_Load() {
    // The single-instance test has already run in main, before the application object existed.
    try {
        m_parts.tray.AddIcon();
        m_parts.tray.TipText(qtText(ProgramTitle));
        hide();
        m_parts.view.PageAddress(BlankPage);
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

int frmMain::currentState() const {
    const Qt::WindowStates state = windowState();
    if (state & Qt::WindowMinimized)
        return StateMinimised;
    if (state & (Qt::WindowMaximized | Qt::WindowFullScreen))
        return StateMaximised;
    return StateNormal;
}

QSize frmMain::clientSize() const {
    if (layout())
        layout()->activate();
    return centralWidget()->size();
}

void frmMain::fitView() {
    const QSize client = clientSize();
    m_parts.view.Width(std::max(0, client.width() - 2 * ViewMargin));
    m_parts.view.Height(std::max(0, client.height() - 2 * ViewMargin));
}

void frmMain::windowStateMayHaveChanged() {
    // Hiding and showing again are not changes of their own; a change that happened while hidden
    // is still seen at the next show because the handling compares with what it last saw.
    if (!isVisible() || m_unloading)
        return;
    m_stateTimer.start();
}

void frmMain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        windowStateMayHaveChanged();
}

void frmMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    windowStateMayHaveChanged();
}

void frmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    windowStateMayHaveChanged();
}

void frmMain::Form_Resize() {
    m_stateTimer.stop();
    if (!isVisible() || m_unloading)
        return;
    const int state = currentState();
    const QSize client = clientSize();
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
            m_parts.view.PageAddress(favorites);
        m_trayrestore->setVisible(false);
        m_lastWindowState = StateMaximised;
        break;
    case StateMinimised:
        m_parts.view.PageAddress(BlankPage);
        m_trayrestore->setVisible(true);
        m_lastWindowState = StateMinimised;
        break;
    default:
        fitView();
        if (last != StateNormal && last != StateMaximised)
            m_parts.view.PageAddress(favorites);
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
        hide();
    else
        setWindowState(windowState() | Qt::WindowMinimized);
}

void frmMain::closeEvent(QCloseEvent* event) {
    // Only the window's own close command (title bar, window menu, Alt+F4: delivered by the
    // window system, hence spontaneous) puts it away; every other close ends the program.
    const bool ownCloseCommand =
        event->spontaneous() && !m_unloading && !m_sessionEnding && !qApp->isSavingSession();
    if (ownCloseCommand) {
        event->ignore();
        if (!m_parts.tray.IsTrayAvailable()) {
            putAway();
            return;
        }
        m_trayrestore->setVisible(true);
        m_parts.view.PageAddress(BlankPage);
        hide();
        return;
    }
    event->accept();
    Form_Unload();
}

void frmMain::unloadMain() {
    if (m_unloaded)
        return;
    m_unloading = true;
    close();
    // close() sends no event while a close is already in progress.
    if (!m_unloaded)
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
    std::vector<QPointer<QWidget>> windows;
    for (QWidget* window : QApplication::topLevelWidgets())
        windows.emplace_back(window);
    for (const QPointer<QWidget>& window : windows) {
        if (window)
            window->hide();
        if (window)
            window->close();
    }
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
    show();
    focusMain();
    m_parts.view.PageAddress(QString::fromStdString(m_parts.settings.FavoritesUrl));
}

void frmMain::Restore() {
    if (isMainMinimised())
        restoreMainToNormal();
    m_parts.view.PageAddress(QString::fromStdString(m_parts.settings.FavoritesUrl));
    show();
    focusMain();
}

void frmMain::prepareDialogCommand() {
    m_parts.view.PageAddress(BlankPage);
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

void frmMain::setPageAddress(const QString& address) {
    m_parts.view.PageAddress(address);
}

bool frmMain::isMainMinimised() const {
    return currentState() == StateMinimised;
}

void frmMain::restoreMainToNormal() {
    setWindowState(windowState() &
                   ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
}

void frmMain::showMain() {
    show();
}

void frmMain::focusMain() {
    raise();
    activateWindow();
}

void frmMain::setTrayRestoreVisible(bool visible) {
    m_trayrestore->setVisible(visible);
    // A dialog closed by its close box offers Restore in the tray. With no tray to offer it in,
    // a hidden main window is minimised instead so that it can still be reached.
    if (visible && !m_unloading && isHidden() && !m_parts.tray.IsTrayAvailable())
        showMinimized();
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
