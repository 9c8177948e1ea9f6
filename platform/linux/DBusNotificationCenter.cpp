// Posting and observing distributed notifications over the session bus.
#include "platform/linux/DBusNotificationCenter.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QStringList>

namespace platform {

DBusNotificationReceiver::DBusNotificationReceiver(QString name, QString object,
                                                   DistributedNotificationCenter::Handler handler)
    : name(std::move(name)), object(std::move(object)), handler(std::move(handler)) {}

void DBusNotificationReceiver::posted(const QString& postedName, const QString& postedObject,
                                      const QDBusMessage& message) {
    if (postedName != name || postedObject != object || !handler)
        return;
    // The bus daemon vouches for the sending connection's process; a signal carries no more.
    pid_t sender = 0;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && bus.interface() && !message.service().isEmpty()) {
        const QDBusReply<uint> reply = bus.interface()->servicePid(message.service());
        if (reply.isValid())
            sender = static_cast<pid_t>(reply.value());
    }
    handler(postedName, postedObject, sender);
}

std::unique_ptr<DistributedNotificationCenter> DistributedNotificationCenter::createDefault() {
    return std::make_unique<DBusNotificationCenter>();
}

DBusNotificationCenter::~DBusNotificationCenter() {
    while (!receivers.empty())
        removeObserver(receivers.begin()->first);
}

bool DBusNotificationCenter::postNotification(const QString& name, const QString& object) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage signal = QDBusMessage::createSignal(path, interface, member);
    signal << name << object;
    return bus.send(signal);
}

DistributedNotificationCenter::ObserverId DBusNotificationCenter::addObserver(const QString& name,
                                                                              const QString& object,
                                                                              Handler handler) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return 0;
    auto receiver = std::make_unique<DBusNotificationReceiver>(name, object, std::move(handler));
    // Any sender: the notification is session-wide, as on the desktop it stands in for.
    const bool connected = bus.connect(
        QString(), path, interface, member, QStringList{name, object}, QStringLiteral("ss"),
        receiver.get(), SLOT(posted(QString, QString, QDBusMessage)));
    if (!connected)
        return 0;
    const ObserverId id = nextId++;
    receivers[id] = std::move(receiver);
    return id;
}

void DBusNotificationCenter::removeObserver(ObserverId id) {
    const auto found = receivers.find(id);
    if (found == receivers.end())
        return;
    DBusNotificationReceiver& receiver = *found->second;
    QDBusConnection::sessionBus().disconnect(
        QString(), path, interface, member, QStringList{receiver.name, receiver.object},
        QStringLiteral("ss"), &receiver, SLOT(posted(QString, QString, QDBusMessage)));
    receivers.erase(found);
}

}  // namespace platform
