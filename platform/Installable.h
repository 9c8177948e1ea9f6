// The one pattern by which every platform interface is reached: a process-wide instance that the
// programs leave at its Linux default and that tests replace with a double before using a class.
#pragma once

#include <memory>
#include <mutex>
#include <utility>

namespace platform {

// Holds the shared instance of a platform interface T. `shared()` creates the default
// implementation on first use; `install()` replaces it (tests do so before creating the class
// under test). Install before any other thread holds a reference to the old instance.
template <typename T>
class Installable {
  public:
    static T& shared() {
        // Guarded so that two threads asking first (the main thread and a background load) agree.
        std::lock_guard lock(mutex());
        auto& slot = instance();
        if (!slot)
            slot = T::createDefault();
        return *slot;
    }
    static void install(std::unique_ptr<T> replacement) {
        std::lock_guard lock(mutex());
        instance() = std::move(replacement);
    }

  private:
    static std::mutex& mutex() {
        static std::mutex guard;
        return guard;
    }
    static std::unique_ptr<T>& instance() {
        static std::unique_ptr<T> slot;
        return slot;
    }
};

}  // namespace platform
