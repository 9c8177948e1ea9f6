// Session-wide notifications between programs of the same user: a name and an object text, posted
// by one program and delivered to every program that observes that name and object.
#pragma once

#include <sys/types.h>

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/Installable.h"

namespace platform {

class DistributedNotificationCenter : public Installable<DistributedNotificationCenter> {
  public:
    using ObserverId = std::uint64_t;
    // `sender` is the posting process, 0 when it cannot be told: the receiver decides whom it
    // believes.
    using Handler = std::function<void(const QString& name, const QString& object, pid_t sender)>;

    virtual ~DistributedNotificationCenter() = default;
    // The session bus (platform/linux/DBusNotificationCenter.cpp).
    static std::unique_ptr<DistributedNotificationCenter> createDefault();

    // Sends the notification to every observer in the session, this program's included. False
    // when it could not be sent (no session bus).
    virtual bool postNotification(const QString& name, const QString& object) = 0;
    // The handler runs on the main thread for each notification with exactly this name and this
    // object. Returns 0 when the registration failed.
    virtual ObserverId addObserver(const QString& name, const QString& object, Handler handler) = 0;
    // Unknown ids are ignored.
    virtual void removeObserver(ObserverId id) = 0;
};

}  // namespace platform
