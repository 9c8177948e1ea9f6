// Corvane's start-up and its end on Vaultine's terminate notification.
#include "watchdog/AppDelegate.h"

#include <cstdio>
#include <cstdlib>

#include "watchdog/Constants.h"

namespace corvane {

AppDelegate::AppDelegate() : exitProcess(&AppDelegate::endProcess) {}

AppDelegate::~AppDelegate() {
    if (terminateObserver)
        platform::DistributedNotificationCenter::shared().removeObserver(terminateObserver);
}

void AppDelegate::endProcess(int status) {
    std::fflush(nullptr);
    std::_Exit(status);
}

void AppDelegate::applicationDidFinishLaunching() {
    monitor = std::make_unique<ActivityMonitor>();
    monitor->exitProcess = [this](int status) { exitProcess(status); };
    if (monitorSetUp)
        monitorSetUp(*monitor);
    monitor->startService();
    terminateObserver = platform::DistributedNotificationCenter::shared().addObserver(
        Constants::TERMINATE_HELPER_KEY, Constants::MASTER_BUNDLE_ID,
        [this](const QString&, const QString&) { messageDelivered(); });
}

void AppDelegate::messageDelivered() {
    exitProcess(0);
}

}  // namespace corvane
