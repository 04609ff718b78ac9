#include "app/SystemNetwork.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>

namespace pellamark {

namespace {
// NetworkManager's NMState values that mean no network at all: asleep, disconnected,
// disconnecting, connecting.
constexpr unsigned OfflineStates[] = {10, 20, 30, 40};
// The system bus answers at once or not at all.
constexpr int AnswerTimeoutMs = 500;
} // namespace

bool systemSaysOffline() {
    // NetworkManager is what speaks for the network on the desktops this program runs on; asked
    // directly on the system bus (the network library of the toolkit asks the same, at the cost
    // of its own libraries in this long-running process).
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.NetworkManager"),
        QStringLiteral("/org/freedesktop/NetworkManager"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << QStringLiteral("org.freedesktop.NetworkManager") << QStringLiteral("State");
    const QDBusMessage answer =
        QDBusConnection::systemBus().call(call, QDBus::Block, AnswerTimeoutMs);
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty())
        return false;
    bool ok = false;
    const unsigned state = answer.arguments().first().value<QDBusVariant>().variant().toUInt(&ok);
    if (!ok)
        return false;
    for (unsigned offline : OfflineStates)
        if (state == offline)
            return true;
    return false;
}

} // namespace pellamark
