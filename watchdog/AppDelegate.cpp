// Corvane's start-up and its end on Vaultine's terminate notification.
#include "watchdog/AppDelegate.h"

#include "platform/PairProtocol.h"

namespace corvane {

AppDelegate::AppDelegate() : exitProcess(&platform::PairProtocol::endProcess) {}

AppDelegate::~AppDelegate() {
    if (terminateObserver)
        platform::DistributedNotificationCenter::shared().removeObserver(terminateObserver);
}

void AppDelegate::applicationDidFinishLaunching() {
    monitor = std::make_unique<ActivityMonitor>();
    monitor->exitProcess = [this](int status) { exitProcess(status); };
    if (monitorSetUp)
        monitorSetUp(*monitor);
    monitor->startService();
    terminateObserver = platform::DistributedNotificationCenter::shared().addObserver(
        platform::PairProtocol::TERMINATE_HELPER_KEY, platform::PairProtocol::MASTER_BUNDLE_ID,
        [this](const QString&, const QString&) { messageDelivered(); });
}

void AppDelegate::messageDelivered() {
    exitProcess(0);
}

}  // namespace corvane
