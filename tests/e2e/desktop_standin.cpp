// Stand-ins for the desktop's services on a test's own buses: the desktop portal's settings (the
// light or dark preference) on the session bus, and, when asked to, NetworkManager's state on a
// bus given as the system bus. Commands on standard input, one per line:
//   color-scheme N   the preference (0 none, 1 dark, 2 light), announced with SettingChanged
//   network N        NetworkManager's state (20 disconnected, 70 connected), announced as
//                    NetworkManager does
// It prints "ready" once its names are taken.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QObject>
#include <QSocketNotifier>
#include <QVariantMap>

#include <cstdio>
#include <iostream>
#include <string>

class PortalSettings : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    uint scheme = 0;

    Q_SCRIPTABLE QDBusVariant ReadOne(const QString& space, const QString& key) {
        return QDBusVariant(value(space, key));
    }
    Q_SCRIPTABLE QDBusVariant Read(const QString& space, const QString& key) {
        // The portal's first version wraps the value once more.
        return QDBusVariant(QVariant::fromValue(QDBusVariant(value(space, key))));
    }
    Q_SCRIPTABLE uint version() const { return 2; }
Q_SIGNALS:
    Q_SCRIPTABLE void SettingChanged(const QString& space, const QString& key,
                                     const QDBusVariant& value);

private:
    QVariant value(const QString& space, const QString& key) const {
        if (space == QLatin1String("org.freedesktop.appearance") &&
            key == QLatin1String("color-scheme"))
            return QVariant::fromValue(scheme);
        return QVariant::fromValue(0u);
    }
};

class NetworkManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.NetworkManager")
    Q_PROPERTY(uint State READ state)
    Q_PROPERTY(uint Connectivity READ connectivity)
public:
    uint current = 70;
    uint state() const { return current; }
    uint connectivity() const { return current >= 70 ? 4 : 1; } // full, none
Q_SIGNALS:
    Q_SCRIPTABLE void StateChanged(uint state);
};

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    qRegisterMetaType<QDBusVariant>();
    PortalSettings portal;
    QDBusConnection session = QDBusConnection::sessionBus();
    if (!session.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                                QDBusConnection::ExportScriptableContents) ||
        !session.registerService(QStringLiteral("org.freedesktop.portal.Desktop"))) {
        std::fprintf(stderr, "desktop_standin: the session bus refused the portal's name\n");
        return 1;
    }
    NetworkManager network;
    const bool withNetwork = argc > 1 && std::string(argv[1]) == "--network-manager";
    QDBusConnection system = QDBusConnection::systemBus();
    if (withNetwork &&
        (!system.registerObject(QStringLiteral("/org/freedesktop/NetworkManager"), &network,
                                QDBusConnection::ExportScriptableContents |
                                    QDBusConnection::ExportAllProperties) ||
         !system.registerService(QStringLiteral("org.freedesktop.NetworkManager")))) {
        std::fprintf(stderr, "desktop_standin: the system bus refused NetworkManager's name\n");
        return 1;
    }
    QSocketNotifier input(0, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        std::string command;
        if (!std::getline(std::cin, command)) {
            QCoreApplication::quit();
            return;
        }
        const auto blank = command.find(' ');
        const std::string word = command.substr(0, blank);
        const uint number = blank == std::string::npos ? 0 : std::stoul(command.substr(blank));
        if (word == "color-scheme") {
            portal.scheme = number;
            Q_EMIT portal.SettingChanged(QStringLiteral("org.freedesktop.appearance"),
                                         QStringLiteral("color-scheme"),
                                         QDBusVariant(QVariant::fromValue(number)));
        } else if (word == "network" && withNetwork) {
            network.current = number;
            Q_EMIT network.StateChanged(number);
            QDBusMessage changed =
                QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/NetworkManager"),
                                           QStringLiteral("org.freedesktop.DBus.Properties"),
                                           QStringLiteral("PropertiesChanged"));
            changed << QStringLiteral("org.freedesktop.NetworkManager")
                    << QVariantMap{{QStringLiteral("State"), QVariant::fromValue(number)},
                                   {QStringLiteral("Connectivity"),
                                    QVariant::fromValue(network.connectivity())}}
                    << QStringList();
            system.send(changed);
        }
        std::printf("done %s\n", command.c_str());
        std::fflush(stdout);
    });
    std::printf("ready\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

#include "desktop_standin.moc"
