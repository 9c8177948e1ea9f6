// The handlers registered with one of the platform's registries, told of each event in the order
// they were added. Safe to use from any thread; handlers run on the thread that notifies.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <utility>

namespace platform {

// Shared by every list, so that an owner keeping several lists can remove an observer by its id
// alone.
inline std::atomic<std::uint64_t> nextObserverId{1};

template <typename... Args>
class ObserverList {
  public:
    using Handler = std::function<void(Args...)>;
    // Unique across all lists; never 0.
    using Id = std::uint64_t;

    Id add(Handler handler) {
        const Id id = nextObserverId.fetch_add(1);
        std::lock_guard lock(mutex);
        handlers.emplace(id, std::move(handler));
        return id;
    }
    void remove(Id id) {
        std::lock_guard lock(mutex);
        handlers.erase(id);
    }
    std::size_t size() const {
        std::lock_guard lock(mutex);
        return handlers.size();
    }

    // Calls the handlers registered now, outside the lock, so that a handler may add or remove
    // observers: one added is told of the next event, one removed before its turn is not called.
    // Unset handlers do nothing.
    void notify(Args... args) const {
        std::map<Id, Handler> current;
        {
            std::lock_guard lock(mutex);
            current = handlers;
        }
        for (const auto& [id, handler] : current) {
            if (handler && contains(id))
                handler(args...);
        }
    }

  private:
    bool contains(Id id) const {
        std::lock_guard lock(mutex);
        return handlers.count(id) > 0;
    }

    mutable std::mutex mutex;
    std::map<Id, Handler> handlers;
};

}  // namespace platform
