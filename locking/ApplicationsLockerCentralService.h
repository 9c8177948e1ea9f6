// The heart of Vaultine: decides that a launching application is locked, covers every screen while
// it is, checks the typed password, releases the application, restarts Corvane when it ends and
// locks again after a restart the application that was locked.
#pragma once

#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/ApplicationEntity.h"
#include "locking/ApplicationsMonitorService.h"
#include "locking/CurrentMonitoredApplicationService.h"
#include "locking/HelperRelauncher.h"
#include "locking/LockPresenter.h"
#include "locking/LockedRuns.h"
#include "locking/SystemApplicationsService.h"
#include "lockscreen/LockScreen.h"
#include "platform/Guard.h"
#include "platform/Screens.h"
#include "platform/WindowSystem.h"

class ConfigurationAndPreferencesService;
class QWidget;

// Everything runs on the main thread: monitor callbacks, lock-window callbacks, configuration
// changes and the 3-second screen check.
//
// It carries out most of the README's security design: which runs are locked (any claimant
// locked, unless the password released the run), a lock kept while anything of its application
// runs, the runs let be saved for a restart, locks over locks kept in turn, covers rebuilt on
// screen events, the last good settings kept while the keyring is silent, and a refused record of
// the current lock written again.
class ApplicationsLockerCentralService {
  public:
    using Scheduler = HelperRelauncher::Scheduler;

    // Loads the configuration and registers for its changes. The lock is shown on `lockScreen`;
    // where it holds a locked launch until the password (the gate), the user's close of the lock
    // window ends the run.
    ApplicationsLockerCentralService(ConfigurationAndPreferencesService& configuration,
                                     std::unique_ptr<LockScreen> lockScreen);
    ~ApplicationsLockerCentralService();
    ApplicationsLockerCentralService(const ApplicationsLockerCentralService&) = delete;
    ApplicationsLockerCentralService& operator=(const ApplicationsLockerCentralService&) = delete;

    // The line printed (and the popover's notice) while the keyring does not answer.
    static inline const QString KEYRING_UNAVAILABLE_LINE = QStringLiteral(
        "The keyring is locked or not answering: Vaultine keeps the protection it last read and "
        "reads again once the keyring is unlocked");

    // The lock window's line while no typed text can be checked.
    static inline const QString PASSWORD_UNKNOWN_LINE = QStringLiteral(
        "The keyring is locked or lost the password: it can be checked once the keyring answers");

    // Starts protection when a password is stored: monitoring, the lock left over from the last
    // run, Corvane. A password the keyring cannot give now (locked, silent, or lost while the
    // defaults' copy says it exists) still starts protection, with the password unknown. Without
    // a password it prints "Will not start. No password" and waits for a configuration change.
    // When neither the keyring nor the copy tells anything it prints KEYRING_UNAVAILABLE_LINE and
    // starts once the keyring answers.
    void start();
    // The 3-second timer's work: rebuilds the lock when the screens changed.
    void checkScreensChange();

    // The applications to lock and the password, as last loaded.
    std::vector<ApplicationEntity> MONITORED_APPS;
    std::optional<QString> PASSWORD;

    // Corvane, started with protection and again whenever it ends. Its scheduler of delayed
    // starts and its pace are replaceable before `start` (tests step them).
    HelperRelauncher helperRelauncher;
    Scheduler& scheduleAfter = helperRelauncher.scheduleAfter;
    platform::RelaunchThrottle& helperRelaunchThrottle = helperRelauncher.throttle;

    // What the service holds, for its owner and tests.
    bool monitoringServiceStarted() const { return started; }
    bool applicationIsProtected() const { return isProtected; }
    const std::optional<ApplicationEntity>& currentlyOrPreviouslyProtectedApplication() const {
        return protectedApplication;
    }
    // The applications blocked behind the current lock, the most recent last.
    const std::vector<ApplicationEntity>& blockedBehindCurrentLock() const { return waiting; }
    const std::vector<std::unique_ptr<QWidget>>& extraPasswordWindows() const {
        return presenter->covers();
    }
    LockWindow* passwordWindowController() const { return presenter->lockWindow(); }
    ApplicationsMonitorService& applicationsMonitorService() { return *monitor; }
    int lastScreensCount() const { return presenter->screenCount(); }
    // False while the last read of the configuration found the keyring locked or silent.
    bool keyringAnswered() const { return keyringAnsweredLast.value_or(false); }
    // The system guard holds this user's locked launches for us and knows the password.
    bool guarded() const;

  private:
    bool loadConfiguration();
    bool passwordUnknown() const { return passwordStored && (!PASSWORD || PASSWORD->isEmpty()); }
    void noteKeyringAnswer(bool answered);
    void onConfigurationChanged();
    void onKeyringMayAnswer();
    void markBlocked(const QString& bundleIdentifier);
    void unmarkBlocked();
    void setupMonitoring();
    void restoreBlockedApplication();
    void lockRunsStartedWhileDown();
    void keepUnresolved(const QStringList& identifiers);
    void releaseRunsOf(const ApplicationEntity& entity);
    void endRunsOf(const ApplicationEntity& entity);
    bool isBlocked(const ApplicationEntity& run) const;
    void releaseUnblockedHolds(const std::vector<std::pair<pid_t, unsigned long long>>& held);
    void handleApplicationWillStart(const ApplicationEntity& entity);
    void handleApplicationDidStart(const ApplicationEntity& entity);
    void handleApplicationTerminated(const ApplicationEntity& entity);
    void lockApplication(const ApplicationEntity& entity);
    void keepBlocked(const ApplicationEntity& entity);
    void forgetBlocked(const QString& bundleIdentifier);
    void checkEnteredPassword(const QString& typed, const ApplicationEntity& entity);
    void handleSpecialKey(const ApplicationEntity& entity);
    void unlockApplication();
    void releaseLock();
    void lockNextBlockedApplication();
    // The system guard, when one is installed.
    void connectGuard();
    void greetGuard();
    void onGuardGreeted(platform::Guard::Answer answer);
    void handleLaunchHeld(pid_t pid, unsigned long long startTime, const QString& program);
    void tellGuardLockShown(const ApplicationEntity& entity);
    QStringList guardedPrograms() const;
    void syncGuardPolicy(const std::optional<QString>& previousPassword);
    void checkWithGuard(const QString& typed, const ApplicationEntity& entity, unsigned serial);
    void acceptPassword(const ApplicationEntity& entity);
    bool isLocked(const QString& bundleIdentifier) const;
    bool isCurrentLock(unsigned serial) const { return isProtected && serial == lockSerial; }
    static void printLine(const QString& text);

    std::unique_ptr<LockPresenter> presenter;
    std::unique_ptr<ApplicationsMonitorService> monitor;
    std::unique_ptr<SystemApplicationsService> systemApplicationsService;
    std::unique_ptr<CurrentMonitoredApplicationService> currentMonitoredApplicationService;
    std::unique_ptr<LockedRuns> lockedRuns;
    ConfigurationAndPreferencesService& configurationAndPreferencesService;
    const bool gate;  // the lock screen holds a locked launch until the password
    bool started = false;
    // A password exists (its text may be unknown); the password was first set up in this process.
    bool passwordStored = false;
    bool setUpHere = false;
    bool isProtected = false;
    std::optional<ApplicationEntity> protectedApplication;
    std::vector<ApplicationEntity> waiting;
    std::optional<bool> ACTIVE;
    std::optional<bool> keyringAnsweredLast;  // none before the first read
    unsigned lockSerial = 0;  // tells the callbacks of a replaced lock window from the current
    bool watchingScreens = false;
    bool guardConnected = false;  // handlers set, the client started
    // The guard answered the keyring's password as wrong: what the keyring holds was changed
    // outside Vaultine, so typed text is checked by the guard, which restores the item.
    bool guardDoubtsPassword = false;
    bool guardChecking = false;  // a typed password is with the guard
    // The programs this process told the guard to lock; only a change made while it runs lowers
    // the guard's policy, never what a start reads from files the user can edit.
    QStringList programsToldToGuard;
    std::optional<bool> protectionToldToGuard;  // the protection switch as last told
    // Checked by the configuration handler, which the shared configuration keeps for ever.
    std::shared_ptr<ApplicationsLockerCentralService*> alive;
};
