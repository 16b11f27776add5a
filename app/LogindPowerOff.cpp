#include "app/LogindPowerOff.h"

#include <QDBusConnection>
#include <QDBusMessage>

void LogindPowerOff()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PowerOff"));
    call << true;
    // Fire and forget: the answer, if any, changes nothing for us.
    bus.send(call);
}
