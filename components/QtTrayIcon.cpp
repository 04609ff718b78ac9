#include "components/QtTrayIcon.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QMenu>

namespace pellamark {

QtTrayIcon::QtTrayIcon(const QIcon& icon, QObject* parent) : TrayIcon(parent), m_icon(icon) {
    setObjectName(QStringLiteral("PBTray1"));
    // On an X11 tray no context menu is set on the icon: the main window pops up its own tray
    // menu on Code 2, so there is only ever one menu. A D-Bus tray is given the menu instead
    // (OfferMenu) and shows it itself.
    connect(&m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (m_menuOnDBus && reason == QSystemTrayIcon::Context)
                    return; // the host shows the menu it was given
                Q_EMIT TrayMouse(codeFor(reason));
            });
}

bool QtTrayIcon::trayIsOnDBus() {
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(watcher))
        return false;
    QDBusInterface properties(watcher, QStringLiteral("/StatusNotifierWatcher"), watcher, bus);
    return properties.property("IsStatusNotifierHostRegistered").toBool();
}

// Without a menu on the icon, a D-Bus tray offers none (Qt publishes "/NO_DBUSMENU"), and on a
// desktop whose windows the program cannot place, the main window could not pop one up where
// the user clicked either.
void QtTrayIcon::OfferMenu(QMenu* menu) {
    m_menuOnDBus = menu != nullptr && trayIsOnDBus();
    m_icon.setContextMenu(m_menuOnDBus ? menu : nullptr);
}

int QtTrayIcon::codeFor(QSystemTrayIcon::ActivationReason reason) {
    return reason == QSystemTrayIcon::Context ? MenuCode : WindowCode;
}

// A visible QSystemTrayIcon is embedded again by Qt when a notification area appears later, so
// showing it once is enough even on a desktop that has none yet.
void QtTrayIcon::AddIcon() {
    m_icon.show();
}

void QtTrayIcon::TipText(const QString& text) {
    m_icon.setToolTip(text);
}

bool QtTrayIcon::IsIconShown() const {
    return m_icon.isVisible();
}

void QtTrayIcon::RemoveIcon() {
    m_icon.hide();
}

bool QtTrayIcon::IsTrayAvailable() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

} // namespace pellamark
