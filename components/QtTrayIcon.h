#pragma once

#include "components/TrayIcon.h"

#include <QIcon>
#include <QSystemTrayIcon>

namespace pellamark {

// TrayIcon on QSystemTrayIcon.
class QtTrayIcon : public TrayIcon {
    Q_OBJECT
public:
    explicit QtTrayIcon(const QIcon& icon, QObject* parent = nullptr);

    void AddIcon() override;
    void TipText(const QString& text) override;
    bool IsIconShown() const override;
    void RemoveIcon() override;
    bool IsTrayAvailable() const override;
    void OfferMenu(QMenu* menu) override;

    // Whether the desktop's notification area takes icons over D-Bus (a StatusNotifierWatcher
    // with a host), as Qt then shows the icon there.
    static bool trayIsOnDBus();

    // The Code a given activation is reported with.
    static int codeFor(QSystemTrayIcon::ActivationReason reason);

private:
    QSystemTrayIcon m_icon;
    bool m_menuOnDBus = false;
};

} // namespace pellamark
