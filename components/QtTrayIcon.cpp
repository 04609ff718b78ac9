#include "components/QtTrayIcon.h"

namespace pellamark {

QtTrayIcon::QtTrayIcon(const QIcon& icon, QObject* parent) : TrayIcon(parent), m_icon(icon) {
    setObjectName(QStringLiteral("PBTray1"));
    // No context menu is set on the icon: the main window pops up its own tray menu on Code 2,
    // so there is only ever one menu.
    connect(
        &m_icon, &QSystemTrayIcon::activated, this,
        [this](QSystemTrayIcon::ActivationReason reason) { Q_EMIT TrayMouse(codeFor(reason)); });
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
