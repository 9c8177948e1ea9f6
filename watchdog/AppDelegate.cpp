// Corvane's start-up and its end on Vaultine's terminate notification.
#include "watchdog/AppDelegate.h"

#include <cstdio>

#include "platform/PairProtocol.h"

namespace corvane {

AppDelegate::AppDelegate()
    : exitProcess(&platform::PairProtocol::endProcess), isMasterProcess([](pid_t pid) {
          return platform::PairProtocol::isPairProcess(pid,
                                                       platform::PairProtocol::MASTER_BUNDLE_ID);
      }) {}

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
        [this](const QString&, const QString&, pid_t sender) { messageDelivered(sender); });
}

void AppDelegate::messageDelivered(pid_t sender) {
    // Any program of the session can send the signal; only Vaultine's Quit may end Corvane.
    if (!isMasterProcess || !isMasterProcess(sender)) {
        std::printf("Ignored the terminate notification from process %d: not Vaultine\n",
                    static_cast<int>(sender));
        return;
    }
    exitProcess(0);
}

}  // namespace corvane
