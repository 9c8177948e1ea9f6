// Distributed notifications inside the test: posts are recorded and delivered at once to the
// observers whose name and object match; the test can also deliver a notification from "another
// program" without recording it as posted.
#pragma once

#include <map>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/DistributedNotificationCenter.h"

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
        observers[nextId] = {name, object, std::move(handler)};
        return nextId++;
    }
    void removeObserver(ObserverId id) override { observers.erase(id); }

    // Delivers as if another program had posted it.
    void deliver(const QString& name, const QString& object) {
        const auto current = observers;  // a handler may remove observers
        for (const auto& [id, observer] : current) {
            if (observers.count(id) && std::get<0>(observer) == name &&
                std::get<1>(observer) == object && std::get<2>(observer))
                std::get<2>(observer)(name, object);
        }
    }
    std::size_t observerCount() const { return observers.size(); }

  private:
    std::map<ObserverId, std::tuple<QString, QString, Handler>> observers;
    ObserverId nextId = 1;
};

}  // namespace platform::testing
