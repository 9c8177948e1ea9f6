// Corvane's application delegate: starts the watch of Vaultine and ends Corvane on Vaultine's
// terminate notification, when its own bundle's Vaultine sent it.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>

#include "platform/DistributedNotificationCenter.h"
#include "watchdog/ActivityMonitor.h"

namespace corvane {

class AppDelegate {
  public:
    AppDelegate();
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // Ends the process; given to the monitor too. Replaceable by tests before launching finishes.
    std::function<void(int status)> exitProcess;
    // Runs on the new monitor before it starts (tests give it their doubles).
    std::function<void(ActivityMonitor&)> monitorSetUp;
    // Whether a process is our own bundle's Vaultine: only it may end Corvane.
    std::function<bool(pid_t)> isMasterProcess;

    // Creates and starts the monitor (a launch of Vaultine happens here), then observes the
    // terminate notification that names Vaultine's bundle identifier.
    void applicationDidFinishLaunching();
    // The terminate notification: ends Corvane with status 0 when our Vaultine sent it.
    void messageDelivered(pid_t sender);

    ActivityMonitor* activityMonitor() const { return monitor.get(); }

  private:
    std::unique_ptr<ActivityMonitor> monitor;
    platform::DistributedNotificationCenter::ObserverId terminateObserver = 0;
};

}  // namespace corvane
