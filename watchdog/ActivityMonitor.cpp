// Vaultine's presence: the first check, the running-list handler, and the relaunch that is
// retried until it has taken effect.
#include "watchdog/ActivityMonitor.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QMap>
#include <QObject>
#include <QTimer>
#include <cstdio>

#include "platform/MainBundle.h"
#include "platform/PairProtocol.h"
#include "watchdog/Constants.h"

namespace corvane {

using platform::PairProtocol;

ActivityMonitor::ActivityMonitor()
    : exitProcess(&PairProtocol::endProcess),
      masterHoldsItsName([] { return PairProtocol::holdsItsName(PairProtocol::MASTER_BUNDLE_ID); }),
      timerContext(std::make_unique<QObject>()) {
    scheduleAfter = [context = timerContext.get()](std::chrono::milliseconds delay,
                                                   std::function<void()> block) {
        QTimer::singleShot(delay, context, std::move(block));
    };
}

ActivityMonitor::~ActivityMonitor() {
    if (observer)
        platform::Workspace::shared().removeObserver(observer);
}

QString ActivityMonitor::masterBundlePath() {
    return PairProtocol::expectedBundlePath(PairProtocol::MASTER_BUNDLE_ID);
}

bool ActivityMonitor::masterIsRunning() const {
    // A folder of the user's that declares Vaultine's identifier is not Vaultine: only a run of
    // the bundle that encloses Corvane's counts.
    // Both paths come from resolved executables (/proc), so a plain comparison holds.
    const QString expected = masterBundlePath();
    for (const auto& running :
         platform::Workspace::shared().runningApplicationsWithBundleIdentifier(
             PairProtocol::MASTER_BUNDLE_ID))
        if (QDir::cleanPath(running.bundlePath) == expected)
            return true;
    return masterHoldsItsName && masterHoldsItsName();
}

void ActivityMonitor::watchMasterName() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // Vaultine's name leaving or joining the bus counts as a change of the running list.
    auto* watcher =
        new QDBusServiceWatcher(PairProtocol::MASTER_BUNDLE_ID, bus,
                                QDBusServiceWatcher::WatchForOwnerChange, timerContext.get());
    QObject::connect(
        watcher, &QDBusServiceWatcher::serviceOwnerChanged, timerContext.get(),
        [this] { observeValueForKeyPath(Constants::RUNNING_APPLICATIONS_KEY_PATH, {}); });
}

void ActivityMonitor::startService() {
    if (!masterIsRunning())
        startMasterApplication(false);
    if (state == State::ended)
        return;
    observer = platform::Workspace::shared().observeRunningApplications(
        [this](const platform::RunningApplicationsChange& change) {
            observeValueForKeyPath(Constants::RUNNING_APPLICATIONS_KEY_PATH, change);
        });
    watchMasterName();
}

void ActivityMonitor::observeValueForKeyPath(const QString& keyPath,
                                             const platform::RunningApplicationsChange&) {
    if (keyPath != Constants::RUNNING_APPLICATIONS_KEY_PATH || state == State::ended)
        return;
    const bool running = masterIsRunning();
    switch (state) {
        case State::watching:
            if (!running)
                startMasterApplication(true);
            break;
        case State::relaunching:
            if (running)
                relaunchTookEffect();
            break;
        case State::settling:
            // Vaultine died right after its relaunch: launch it again, backing off.
            if (!running)
                startMasterApplication(true);
            break;
        case State::ended:
            break;
    }
}

void ActivityMonitor::startMasterApplication(bool endOnceRunning) {
    endAfterRelaunch = endAfterRelaunch || endOnceRunning;
    state = State::relaunching;
    const unsigned attempt = ++attemptSerial;
    const auto delay = relaunchThrottle.delayAfterEnd();
    if (delay == std::chrono::milliseconds::zero()) {
        launchNow(attempt);
        return;
    }
    std::printf("Vaultine ended before it was ready %d times in a row; starting it again in %g s\n",
                relaunchThrottle.consecutiveShortRuns(),
                static_cast<double>(delay.count()) / 1000.0);
    scheduleAfter(delay, [this, attempt] { launchNow(attempt); });
}

void ActivityMonitor::launchNow(unsigned attempt) {
    if (attempt != attemptSerial || state != State::relaunching)
        return;
    if (masterIsRunning()) {
        relaunchTookEffect();
        return;
    }
    const QMap<QString, QString> configuration{
        {PairProtocol::RESTARTED_FROM_HELPER_KEY, QStringLiteral("1")}};
    const bool requested =
        platform::Workspace::shared().launchApplication(masterBundlePath(), configuration);
    relaunchThrottle.launched();
    if (!requested) {
        startMasterApplication(endAfterRelaunch);
        return;
    }
    scheduleAfter(launchConfirmationTimeout, [this, attempt] { confirmLaunch(attempt); });
}

void ActivityMonitor::confirmLaunch(unsigned attempt) {
    if (attempt != attemptSerial || state != State::relaunching)
        return;
    if (masterIsRunning())
        relaunchTookEffect();
    else
        startMasterApplication(endAfterRelaunch);
}

void ActivityMonitor::relaunchTookEffect() {
    if (!endAfterRelaunch) {
        state = State::watching;
        return;
    }
    state = State::settling;
    const unsigned attempt = ++attemptSerial;
    scheduleAfter(settleTime, [this, attempt] {
        if (attempt != attemptSerial || state != State::settling)
            return;
        if (masterIsRunning())
            end();
        else
            startMasterApplication(true);
    });
}

void ActivityMonitor::end() {
    state = State::ended;
    exitProcess(0);
}

}  // namespace corvane
