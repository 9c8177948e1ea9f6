// The single-instance claim as a well-known name on the session bus, requested without queueing
// and without replacement, so that of two racing starts exactly one wins. Only another copy of
// this program wins over us: a process of any other program that squats on the name is waited
// out in the name's queue while we run, so that it cannot keep the protection from starting.
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <cstdio>

#include "platform/PeerLiveness.h"
#include "platform/SingleInstance.h"
#include "platform/linux/ProcReader.h"

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
        if (reply.value() == QDBusConnectionInterface::ServiceRegistered)
            return true;
        const QDBusReply<uint> holder = daemon->servicePid(bundleIdentifier);
        if (!holder.isValid() || isOurProgram(static_cast<pid_t>(holder.value()), bundleIdentifier))
            return false;
        std::printf("The name %s is held by another program; waiting for it\n",
                    qUtf8Printable(bundleIdentifier));
        daemon->registerService(bundleIdentifier, QDBusConnectionInterface::QueueService,
                                QDBusConnectionInterface::DontAllowReplacement);
        return true;
    }

  private:
    static bool isOurProgram(pid_t holder, const QString& bundleIdentifier) {
        return proc::readExecutable(holder) == proc::readExecutable(::getpid()) ||
               PeerLiveness::systemProbes().runsBundle(holder, bundleIdentifier);
    }
};

}  // namespace

std::unique_ptr<SingleInstance> SingleInstance::createDefault() {
    return std::make_unique<DBusSingleInstance>();
}

}  // namespace platform
