// The single-instance claim as a well-known name on the session bus, requested without queueing
// and without replacement, so that of two racing starts exactly one wins.
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>

#include "platform/SingleInstance.h"

namespace platform {

namespace {

class DBusSingleInstance : public SingleInstance {
  public:
    bool claim(const QString& bundleIdentifier) override {
        QDBusConnection bus = QDBusConnection::sessionBus();
        QDBusConnectionInterface* daemon = bus.isConnected() ? bus.interface() : nullptr;
        if (!daemon)
            return true;
        const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
            daemon->registerService(bundleIdentifier, QDBusConnectionInterface::DontQueueService,
                                    QDBusConnectionInterface::DontAllowReplacement);
        // An identifier that is no valid bus name cannot be raced for on the bus either.
        if (!reply.isValid())
            return true;
        return reply.value() == QDBusConnectionInterface::ServiceRegistered;
    }
};

}  // namespace

std::unique_ptr<SingleInstance> SingleInstance::createDefault() {
    return std::make_unique<DBusSingleInstance>();
}

}  // namespace platform
