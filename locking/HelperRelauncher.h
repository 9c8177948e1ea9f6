// Corvane kept running: started with protection and again whenever it ends, at once when it had
// been ready, after a growing wait when it keeps dying before it is.
#pragma once

#include <QObject>
#include <chrono>
#include <functional>
#include <memory>

#include "platform/RelaunchThrottle.h"

class HelperRelauncher {
  public:
    using Scheduler = std::function<void(std::chrono::milliseconds, std::function<void()>)>;

    // `launch` starts Corvane; it is called on the main thread.
    explicit HelperRelauncher(std::function<void()> launch);
    ~HelperRelauncher();
    HelperRelauncher(const HelperRelauncher&) = delete;
    HelperRelauncher& operator=(const HelperRelauncher&) = delete;

    // Starts Corvane now.
    void start();
    // Corvane ended: started again at once, or after the throttle's wait (one start pending at
    // most).
    void handleTerminated();

    // Replaceable: how a delayed start is scheduled (a timer that ends with this object by default)
    // and the pace (tests step their clock).
    Scheduler scheduleAfter;
    platform::RelaunchThrottle throttle;

  private:
    std::function<void()> launch;
    bool restartPending = false;
    std::unique_ptr<QObject> timerContext;
};
