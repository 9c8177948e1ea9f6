// The main queue (work that runs on the main thread, one block after another, in submission
// order) and the global queue (work that runs on pool threads, in parallel).
#pragma once

#include <functional>
#include <memory>

#include "platform/Installable.h"

namespace platform {

using Block = std::function<void()>;

class MainQueue : public Installable<MainQueue> {
  public:
    virtual ~MainQueue() = default;
    // Posts to the Qt event loop of the application object; needs a QCoreApplication.
    static std::unique_ptr<MainQueue> createDefault();
    // Queues the block; returns at once, also on the main thread (the block runs on a later turn).
    virtual void async(Block block) = 0;
};

class GlobalQueue : public Installable<GlobalQueue> {
  public:
    virtual ~GlobalQueue() = default;
    // Qt's global thread pool.
    static std::unique_ptr<GlobalQueue> createDefault();
    // Starts the block on another thread; returns at once.
    virtual void async(Block block) = 0;
};

}  // namespace platform
