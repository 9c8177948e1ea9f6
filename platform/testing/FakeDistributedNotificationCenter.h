// Distributed notifications inside the test: posts are recorded and delivered at once to the
// observers whose name and object match; the test can also deliver a notification from "another
// program" (a process id of the test's choosing) without recording it as posted.
#pragma once

#include <unistd.h>

#include <utility>
#include <vector>

#include "platform/DistributedNotificationCenter.h"
#include "platform/ObserverList.h"

namespace platform::testing {

class FakeDistributedNotificationCenter : public DistributedNotificationCenter {
  public:
    struct Posted {
        QString name;
        QString object;
    };
    std::vector<Posted> posted;
    bool connected = true;  // false: no session bus, posts fail and nothing is observed

    bool postNotification(const QString& name, const QString& object) override {
        if (!connected)
            return false;
        posted.push_back({name, object});
        deliver(name, object, ::getpid());
        return true;
    }
    ObserverId addObserver(const QString& name, const QString& object, Handler handler) override {
        if (!connected)
            return 0;
        return observers.add(
            [name, object, handler = std::move(handler)](
                const QString& postedName, const QString& postedObject, pid_t sender) {
                if (postedName == name && postedObject == object && handler)
                    handler(postedName, postedObject, sender);
            });
    }
    void removeObserver(ObserverId id) override { observers.remove(id); }

    // Delivers as if the process `sender` had posted it.
    void deliver(const QString& name, const QString& object, pid_t sender = 0) {
        observers.notify(name, object, sender);
    }
    std::size_t observerCount() const { return observers.size(); }

  private:
    ObserverList<const QString&, const QString&, pid_t> observers;
};

}  // namespace platform::testing
