// Exports and calls the popover's "Show" method. The caller waits at most a second, so a hung
// first instance cannot keep a second launch alive.
#include "menubar/PopoverRemoteControl.h"

#include <QDBusMessage>

namespace {
constexpr int callTimeoutMilliseconds = 1000;
}

PopoverRemoteControl::PopoverRemoteControl(QObject* parent) : QObject(parent) {}

PopoverRemoteControl::~PopoverRemoteControl() {
    if (!registeredConnection.isEmpty())
        QDBusConnection(registeredConnection).unregisterObject(OBJECT_PATH);
}

bool PopoverRemoteControl::registerOn(QDBusConnection connection) {
    if (!connection.isConnected())
        return false;
    if (!connection.registerObject(OBJECT_PATH, this, QDBusConnection::ExportScriptableSlots))
        return false;
    registeredConnection = connection.name();
    return true;
}

void PopoverRemoteControl::Show() {
    if (onShowRequest)
        onShowRequest();
}

bool PopoverRemoteControl::showInRunningInstance(const QString& serviceName,
                                                 QDBusConnection connection) {
    if (!connection.isConnected())
        return false;
    const QDBusMessage call =
        QDBusMessage::createMethodCall(serviceName, OBJECT_PATH, INTERFACE, QStringLiteral("Show"));
    const QDBusMessage reply = connection.call(call, QDBus::BlockWithGui, callTimeoutMilliseconds);
    return reply.type() == QDBusMessage::ReplyMessage;
}
