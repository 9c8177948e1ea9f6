// Quitting in order: Corvane is told and gone before Vaultine exits.
#include "app/SafeQuitService.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <thread>

#include "locking/KnownInstancesService.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/Guard.h"
#include "platform/PairProtocol.h"
#include "platform/Workspace.h"
#include "storage/ConfigurationAndPreferencesService.h"
#include "storage/Constants.h"

namespace {

constexpr std::chrono::milliseconds pollInterval{10};

}  // namespace

SafeQuitService::SafeQuitService()
    : helperIsRunning([] {
          return platform::PairProtocol::holdsItsName(platform::PairProtocol::HELPER_BUNDLE_ID);
      }),
      exitProcess(&platform::PairProtocol::endProcess) {}

void SafeQuitService::quitApplication() {
    switchOffGuard();
    // Whatever runs when Vaultine starts again is taken as known: Quit needed the password.
    KnownInstancesService().storeEverythingKnown();
    platform::Workspace::shared().releaseAllLaunchHolds();
    platform::DistributedNotificationCenter::shared().postNotification(
        platform::PairProtocol::TERMINATE_HELPER_KEY, Constants::BUNDLE_ID());
    // The wait blocks the main loop on purpose: no monitor callback may see Corvane end and
    // start it again while we are on our way out.
    const auto deadline = std::chrono::steady_clock::now() + helperExitTimeout;
    while (helperIsRunning() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(pollInterval);
    exitProcess(0);
}

void SafeQuitService::switchOffGuard() {
    auto& guard = platform::Guard::shared();
    if (!guard.protecting())
        return;
    // The password as this run last read, wrote or restored it; one the guard does not take
    // leaves its protection on.
    const QString password =
        ConfigurationAndPreferencesService::sharedInstance().getApplicationPassword();
    QEventLoop wait;
    QPointer<QEventLoop> waiting(&wait);
    auto answered = std::make_shared<bool>(false);
    guard.changePolicy(
        {platform::Guard::Change::switchOff, password, platform::Guard::protection, {}, {}},
        [answered, waiting](platform::Guard::Answer) {
            *answered = true;
            if (waiting)
                waiting->quit();
        });
    // Corvane has not been told yet, so the events handled meanwhile cannot relaunch it.
    if (!*answered) {
        QTimer::singleShot(guardAnswerTimeout, &wait, &QEventLoop::quit);
        wait.exec();
    }
}
