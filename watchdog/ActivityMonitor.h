// Watches for Vaultine's presence: launches it when it is not running, at start and after every
// change of the running-application list, and ends Corvane once a relaunch has taken effect.
#pragma once

#include <QString>
#include <chrono>
#include <functional>
#include <memory>

#include "platform/RelaunchThrottle.h"
#include "platform/Workspace.h"

class QObject;

namespace corvane {

// Single-threaded: every step runs in a callback of the main loop.
//
// A relaunch has taken effect when Vaultine is seen running and still runs a few seconds later.
// Until then Corvane stays: a refused launch, a Vaultine that never appears or one that dies at
// once is launched again, at once when it was ready (it answered a ping), else backing off up to
// 30 s, so that a Vaultine that keeps dying at start never makes Corvane spin.
class ActivityMonitor {
  public:
    using Scheduler = std::function<void(std::chrono::milliseconds, std::function<void()>)>;

    // How long a requested launch may take to show up in the running list.
    static constexpr std::chrono::milliseconds launchConfirmationTimeout{5000};
    // How long a relaunched Vaultine must stay before Corvane ends.
    static constexpr std::chrono::milliseconds settleTime{3000};

    ActivityMonitor();
    ~ActivityMonitor();
    ActivityMonitor(const ActivityMonitor&) = delete;
    ActivityMonitor& operator=(const ActivityMonitor&) = delete;

    // Ends the process; replaceable by tests.
    std::function<void(int status)> exitProcess;
    Scheduler scheduleAfter;
    // Whether Vaultine holds its bundle identifier on the session bus: a second sign of its
    // presence, which does not depend on the process watcher having seen it yet.
    std::function<bool()> masterHoldsItsName;
    platform::RelaunchThrottle relaunchThrottle;

    // First check, then observation of the running list.
    void startService();
    // The running list changed; other key paths are ignored.
    void observeValueForKeyPath(const QString& keyPath,
                                const platform::RunningApplicationsChange& change);

    // Vaultine's bundle: four levels above Corvane's own (Corvane.app, LoginItems, Library,
    // Contents), found by position only (PairProtocol::expectedBundlePath).
    static QString masterBundlePath();
    bool isRelaunching() const { return state == State::relaunching; }

  private:
    enum class State {
        watching,     // Vaultine runs, or a start-up launch took effect
        relaunching,  // a launch is asked for or waited for
        settling,     // the relaunched Vaultine runs; Corvane ends when it still does later
        ended,
    };

    bool masterIsRunning() const;
    void startMasterApplication(bool endOnceRunning);
    void launchNow(unsigned attempt);
    void confirmLaunch(unsigned attempt);
    void relaunchTookEffect();
    void end();

    State state = State::watching;
    bool endAfterRelaunch = false;
    unsigned attemptSerial = 0;  // tells a stale scheduled step from the current one
    void watchMasterName();

    platform::Workspace::ObserverId observer = 0;
    std::unique_ptr<QObject> timerContext;  // owns the timers and the bus-name watcher
};

}  // namespace corvane
