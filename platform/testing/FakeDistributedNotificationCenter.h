// Distributed notifications inside the test: posts are recorded and delivered at once to the
// observers whose name and object match; the test can also deliver a notification from "another
// program" without recording it as posted.
#pragma once

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
        deliver(name, object);
        return true;
    }
    ObserverId addObserver(const QString& name, const QString& object, Handler handler) override {
        if (!connected)
            return 0;
        return observers.add([name, object, handler = std::move(handler)](
                                 const QString& postedName, const QString& postedObject) {
            if (postedName == name && postedObject == object && handler)
                handler(postedName, postedObject);
        });
    }
    void removeObserver(ObserverId id) override { observers.remove(id); }

    // Delivers as if another program had posted it.
    void deliver(const QString& name, const QString& object) { observers.notify(name, object); }
    std::size_t observerCount() const { return observers.size(); }

  private:
    ObserverList<const QString&, const QString&> observers;
};

}  // namespace platform::testing
