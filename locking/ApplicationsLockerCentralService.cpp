// Locking and releasing applications: the monitor's, the lock window's and the configuration's
// events turned into locks over every screen, and Corvane kept running.
#include "locking/ApplicationsLockerCentralService.h"

#include <QFileInfo>
#include <algorithm>
#include <cstdio>

#include "platform/Queues.h"
#include "storage/ConfigurationAndPreferencesService.h"
#include "storage/ConfigurationConstants.h"

namespace {

constexpr std::chrono::milliseconds screensCheckInterval{3000};

}  // namespace

ApplicationsLockerCentralService::ApplicationsLockerCentralService(
    ConfigurationAndPreferencesService& configuration, std::unique_ptr<LockScreen> lockScreen)
    : helperRelauncher([this] { systemApplicationsService->startHelperApplication(); }),
      presenter(std::make_unique<LockPresenter>(std::move(lockScreen))),
      monitor(std::make_unique<ApplicationsMonitorService>()),
      systemApplicationsService(std::make_unique<SystemApplicationsService>()),
      currentMonitoredApplicationService(std::make_unique<CurrentMonitoredApplicationService>()),
      lockedRuns(std::make_unique<LockedRuns>(MONITORED_APPS, *systemApplicationsService)),
      configurationAndPreferencesService(configuration),
      gate(presenter->holdsUntilPassword()),
      alive(std::make_shared<ApplicationsLockerCentralService*>(this)) {
    std::weak_ptr<ApplicationsLockerCentralService*> self = alive;
    configurationAndPreferencesService.addOnConfigurationChangeEvent([self] {
        if (const auto service = self.lock())
            (*service)->onConfigurationChanged();
    });
    configurationAndPreferencesService.addOnKeyringAvailabilityEvent([self] {
        if (const auto service = self.lock())
            (*service)->onKeyringMayAnswer();
    });
    loadConfiguration();
}

ApplicationsLockerCentralService::~ApplicationsLockerCentralService() {
    monitor->stopService();
    alive.reset();
}

void ApplicationsLockerCentralService::printLine(const QString& text) {
    std::printf("%s\n", qUtf8Printable(text));
    std::fflush(stdout);
}

// Start-up

void ApplicationsLockerCentralService::start() {
    // A predecessor killed while it held a launch stopped left it so: it runs again. On the gate
    // the hold waited for the password: it stays while its run is locked again below, and waits
    // for a start that can tell while the settings are unread.
    auto& workspace = platform::Workspace::shared();
    std::vector<std::pair<pid_t, unsigned long long>> heldByPredecessor;
    if (!gate || (PASSWORD && !passwordStored))
        workspace.releaseAllLaunchHolds();
    else if (PASSWORD)
        heldByPredecessor = workspace.takeOverLaunchHolds();
    // Only a store that holds no password means there is none: a locked keyring, or one that lost
    // the password the copy says exists, protects with the password unknown.
    if (!PASSWORD) {
        started = false;
        return;
    }
    if (!passwordStored) {
        started = false;
        printLine(QStringLiteral("Will not start. No password"));
        return;
    }
    setupMonitoring();
    restoreBlockedApplication();
    lockRunsStartedWhileDown();
    releaseUnblockedHolds(heldByPredecessor);
    monitor->startService();
    helperRelauncher.start();
    started = true;
    printLine(QStringLiteral("Monitoring services started"));
    connectGuard();
}

// A keyring that does not answer changes nothing: the configuration keeps what it read (or its
// copy in the defaults), so what was locked stays locked and the password that opened it still
// does. An unknown password (empty while one is stored) opens nothing.
bool ApplicationsLockerCentralService::loadConfiguration() {
    const auto settings = configurationAndPreferencesService.readProtectionSettings();
    noteKeyringAnswer(settings && (!settings->passwordStored || !settings->password.isEmpty()));
    if (!settings)
        return false;
    MONITORED_APPS =
        ConfigurationAndPreferencesService::resolveApplications(settings->lockedBundleIds);
    // The first start of protection in a process that read "no password" follows the set-up:
    // whatever runs then was started by the owner.
    if (!PASSWORD && !settings->passwordStored)
        setUpHere = true;
    PASSWORD = settings->password;
    passwordStored = settings->passwordStored;
    ACTIVE = settings->applicationIsActive;
    // An identifier that resolves to no installed application now (a hidden or shadowed entry, a
    // package being upgraded) stays locked: its runs are still named by it.
    keepUnresolved(settings->lockedBundleIds);
    if (settings->lockAdministrativeApplications) {
        const auto administrative = systemApplicationsService->administrativeApplications();
        MONITORED_APPS.insert(MONITORED_APPS.end(), administrative.begin(), administrative.end());
        keepUnresolved(ConfigurationConstants::ADMINISTRATIVE_APPLICATIONS_BUNDLE_IDS);
    }
    return true;
}

// One line for each time the keyring stops answering, and one when it answers again.
void ApplicationsLockerCentralService::noteKeyringAnswer(bool answered) {
    if (keyringAnsweredLast == answered)
        return;
    const bool wasSilent = keyringAnsweredLast.has_value() && !*keyringAnsweredLast;
    keyringAnsweredLast = answered;
    if (!answered)
        printLine(KEYRING_UNAVAILABLE_LINE);
    else if (wasSilent)
        printLine(QStringLiteral("The keyring answers again"));
}

void ApplicationsLockerCentralService::onKeyringMayAnswer() {
    // Every change of the keyring is read, so that what another program deleted or changed is
    // written back by the configuration. The settings themselves change only through it, so while
    // protection runs on a known password, that read is all there is to do: the keyring's signals
    // come for every program's secrets, and a reload resolves the applications again.
    if (started && keyringAnswered()) {
        configurationAndPreferencesService.readProtectionSettings();
        return;
    }
    onConfigurationChanged();
}

void ApplicationsLockerCentralService::markBlocked(const QString& bundleIdentifier) {
    if (!currentMonitoredApplicationService->markMinitoredApplication(bundleIdentifier)) {
        printLine(QStringLiteral("Could not record the locked application ") + bundleIdentifier +
                  QStringLiteral("; writing it again on the next change"));
    }
}

void ApplicationsLockerCentralService::unmarkBlocked() {
    if (!currentMonitoredApplicationService->unmarkMinitoredApplication()) {
        printLine(QStringLiteral(
            "Could not record that no application is locked; writing it again on the next change"));
    }
}

void ApplicationsLockerCentralService::keepUnresolved(const QStringList& identifiers) {
    for (const QString& identifier : identifiers) {
        if (!identifier.isEmpty() && !lockedRuns->isMonitoredIdentifier(identifier))
            MONITORED_APPS.emplace_back(identifier, identifier);
    }
}

void ApplicationsLockerCentralService::onConfigurationChanged() {
    currentMonitoredApplicationService->retryFailedWrite();
    const bool wasStarted = started;
    const bool wasUnknown = passwordUnknown();
    // Only a password the guard did not doubt may lower what the guard holds.
    const std::optional<QString> previousPassword =
        wasUnknown || guardDoubtsPassword ? std::nullopt : PASSWORD;
    loadConfiguration();
    if (!started)
        start();
    if (!wasStarted || !guardConnected)
        return;
    if (wasUnknown && !passwordUnknown())
        greetGuard();  // the keyring answers again: its password is checked against the guard's
    else
        syncGuardPolicy(previousPassword);
}

void ApplicationsLockerCentralService::setupMonitoring() {
    monitor->onApplicationWillStart = [this](const ApplicationEntity& entity) {
        handleApplicationWillStart(entity);
    };
    monitor->onApplicationDidStart = [this](const ApplicationEntity& entity) {
        handleApplicationDidStart(entity);
    };
    monitor->onApplicationTerminated = [this](const ApplicationEntity& entity) {
        handleApplicationTerminated(entity);
    };
    monitor->onHelperTerminated = [this] { helperRelauncher.handleTerminated(); };
    if (watchingScreens)
        return;
    watchingScreens = true;
    // The display server's screen events rebuild the covers at once, on the next turn so that the
    // toolkit has finished its own work on the change; the timer of a lock stays as the net.
    std::weak_ptr<ApplicationsLockerCentralService*> self = alive;
    platform::Screens::shared().addChangeObserver([self] {
        platform::MainQueue::shared().async([self] {
            if (const auto service = self.lock())
                (*service)->checkScreensChange();
        });
    });
}

void ApplicationsLockerCentralService::restoreBlockedApplication() {
    // Neither the protection switch nor the list is consulted: a lock that was up when Vaultine
    // ended stays up.
    const auto identifier = currentMonitoredApplicationService->currentMonitoredApplication();
    if (!identifier)
        return;
    if (const auto running = systemApplicationsService->applicationIsRunning(*identifier))
        lockApplication(*running);
}

// The runs of locked applications that began while Vaultine was down (killed, stopped) are each
// locked in turn.
void ApplicationsLockerCentralService::lockRunsStartedWhileDown() {
    for (const ApplicationEntity& entity :
         lockedRuns->findRunsStartedWhileDown(ACTIVE.value_or(false), setUpHere)) {
        if (isLocked(entity.bundleIdentifier))
            continue;
        printLine(QStringLiteral("Started while Vaultine was not running: ") + entity.name);
        keepBlocked(entity);
    }
    if (!isProtected)
        lockNextBlockedApplication();
}

// The password releases every run of the application; on the gate its held runs go on.
void ApplicationsLockerCentralService::releaseRunsOf(const ApplicationEntity& entity) {
    for (const auto& [pid, startTime] : lockedRuns->releaseRunsOf(entity)) {
        if (gate)
            platform::Workspace::shared().releaseLaunch(pid);
        if (guardConnected)
            platform::Guard::shared().runReleased(pid, startTime);
    }
}

// The gate's lock window closed by the user: the runs it kept from going on end, whatever they
// started with them, and the lock with them. They never ran, so nothing of the owner's is lost.
// A run that was never held (it showed a window before Vaultine got to it) is not ended: whoever
// closes the lock would throw away the owner's unsaved work in it, so its lock stays; so does the
// lock of a run that could not be ended.
void ApplicationsLockerCentralService::endRunsOf(const ApplicationEntity& entity) {
    auto& workspace = platform::Workspace::shared();
    bool ended = true;
    bool shown = false;
    const LockedRuns::Instances runs = lockedRuns->currentRunsOf(entity);
    for (const LockedRuns::Instance& run : runs) {
        if (lockedRuns->isKnown(run))
            continue;
        if (workspace.holdsLaunch(run.first, run.second) || lockedRuns->heldByGuard(run))
            ended = workspace.endRun(run.first, run.second) && ended;
        else
            shown = true;
    }
    lockedRuns->forgetHeldByGuard(runs);
    if (shown) {
        printLine(QStringLiteral("Lock window closed: ") + entity.name +
                  QStringLiteral(" was running with its windows before it was locked and is not "
                                 "ended; its lock stays"));
        return;
    }
    if (!ended) {
        printLine(QStringLiteral("Could not end every run of ") + entity.name);
        return;
    }
    printLine(QStringLiteral("Lock window closed: ended ") + entity.name);
    releaseLock();
}

// A run waits behind a lock: its application's lock is up or queued, and no password released it.
bool ApplicationsLockerCentralService::isBlocked(const ApplicationEntity& run) const {
    if (lockedRuns->isKnown(run))
        return false;
    if (isProtected && protectedApplication &&
        LockedRuns::sharesIdentifier(*protectedApplication, run))
        return true;
    return std::any_of(waiting.begin(), waiting.end(), [&run](const ApplicationEntity& blocked) {
        return LockedRuns::sharesIdentifier(blocked, run);
    });
}

// Of the holds a killed predecessor left on the gate, those whose run is not locked again go on.
void ApplicationsLockerCentralService::releaseUnblockedHolds(
    const std::vector<std::pair<pid_t, unsigned long long>>& held) {
    auto& workspace = platform::Workspace::shared();
    for (const auto& [pid, startTime] : held) {
        const auto application = workspace.runningApplicationWithProcessIdentifier(pid);
        if (!application || application->processStartTime != startTime ||
            !isBlocked(ApplicationEntity::fromRunningApplication(*application)))
            workspace.releaseLaunch(pid);
    }
}

// The monitor's events

bool ApplicationsLockerCentralService::isLocked(const QString& bundleIdentifier) const {
    return isProtected && protectedApplication &&
           protectedApplication->bundleIdentifier == bundleIdentifier;
}

void ApplicationsLockerCentralService::handleApplicationWillStart(const ApplicationEntity& entity) {
    if (!ACTIVE.value_or(false)) {
        // Let be while protection was off: not a run that began behind Vaultine's back.
        if (started && lockedRuns->isMonitored(entity))
            lockedRuns->letBe(entity);
        return;
    }
    printLine(QStringLiteral("Will start: ") + entity.name);
    // A run the password released may show up again, with a window that names it anew.
    if (!lockedRuns->isMonitored(entity) || lockedRuns->isKnown(entity))
        return;
    // Another run of the application that is locked now (its server, a second window) waits
    // behind the same lock, which the password releases together; rebuilding the lock would drop
    // what the user is typing. On the gate, held as the first.
    auto& workspace = platform::Workspace::shared();
    const pid_t pid = entity.processIdentifier;
    using LaunchHold = platform::Workspace::LaunchHold;
    if (isProtected && protectedApplication && presenter->lockWindow() &&
        LockedRuns::sharesIdentifier(*protectedApplication, entity)) {
        if (gate)
            workspace.holdLaunch(pid, entity.processStartTime, LaunchHold::untilReleased);
        return;
    }
    // The new run stays stopped until its lock is on screen, so that no window of it shows
    // first. The lock window maps within lockApplication (or, when none was laid out ahead, in a
    // block it queues); the release is queued after either. On the gate, whose lock window does
    // not hide it, the run stays stopped until the password.
    workspace.holdLaunch(pid, entity.processStartTime,
                         gate ? LaunchHold::untilReleased : LaunchHold::untilLockShown);
    lockApplication(entity);
    if (gate)
        return;
    platform::MainQueue::shared().async(
        [pid] { platform::Workspace::shared().releaseLaunch(pid); });
    tellGuardLockShown(entity);
}

void ApplicationsLockerCentralService::handleApplicationDidStart(const ApplicationEntity& entity) {
    if (!ACTIVE.value_or(false))
        return;
    printLine(QStringLiteral("Did start: ") + entity.name);
    if (lockedRuns->isMonitored(entity) && isProtected && presenter->lockWindow())
        presenter->lockWindow()->focus();
}

void ApplicationsLockerCentralService::handleApplicationTerminated(
    const ApplicationEntity& entity) {
    if (!ACTIVE.value_or(false))
        return;
    printLine(QStringLiteral("Terminated: ") + entity.name);
    lockedRuns->forget(entity);
    // A lock stays for as long as anything of its application runs: another instance, the server
    // its launcher handed over to, a process a window was attributed to. The locked application
    // need not be in the list (a restored lock, or an administrative tool whose switch went off),
    // but its end still ends its lock; the end of another application never does.
    std::erase_if(waiting, [this](const ApplicationEntity& blocked) {
        return lockedRuns->nothingLeftOf(blocked);
    });
    if (isProtected && protectedApplication && presenter->lockWindow() &&
        lockedRuns->nothingLeftOf(*protectedApplication))
        releaseLock();
}

// Locking

void ApplicationsLockerCentralService::lockApplication(const ApplicationEntity& entity) {
    // The earlier lock's windows go; its application stays blocked behind this lock.
    if (isProtected && protectedApplication &&
        protectedApplication->bundleIdentifier != entity.bundleIdentifier)
        keepBlocked(*protectedApplication);
    forgetBlocked(entity.bundleIdentifier);
    protectedApplication = entity;
    isProtected = true;
    const unsigned serial = ++lockSerial;
    LockWindow& window = presenter->replaceLockWindow();
    window.passwordEntered = [this, serial, entity](const QString& typed) {
        if (isCurrentLock(serial))
            checkEnteredPassword(typed, entity);
    };
    window.specialKeyPressed = [this, serial, entity] {
        if (isCurrentLock(serial))
            handleSpecialKey(entity);
    };
    if (gate) {
        window.closedByUser = [this, serial, entity] {
            if (isCurrentLock(serial))
                endRunsOf(entity);
        };
    }
    window.title = entity.name;
    window.showServiceWindow(entity.name + QStringLiteral(" is locked"), entity.icon);
    if (passwordUnknown() && !guarded())
        window.displayErrorMessage(PASSWORD_UNKNOWN_LINE);
    // Recorded once the lock is on its way to the screen: the record's synchronous write is the
    // slowest step of a lock.
    markBlocked(entity.bundleIdentifier);
    // The screens are checked only while a lock is up, against those this lock was built for.
    presenter->watchScreens(screensCheckInterval, [this] { checkScreensChange(); });
}

void ApplicationsLockerCentralService::keepBlocked(const ApplicationEntity& entity) {
    forgetBlocked(entity.bundleIdentifier);
    waiting.push_back(entity);
}

void ApplicationsLockerCentralService::forgetBlocked(const QString& bundleIdentifier) {
    std::erase_if(waiting, [&](const ApplicationEntity& blocked) {
        return blocked.bundleIdentifier == bundleIdentifier;
    });
}

// Frames and the main screen count too: a rearranged or resized screen would leave part of the
// desktop uncovered.
void ApplicationsLockerCentralService::checkScreensChange() {
    currentMonitoredApplicationService->retryFailedWrite();
    if (!presenter->screensChanged())
        return;
    if (isProtected && protectedApplication) {
        const ApplicationEntity locked = *protectedApplication;
        unlockApplication();
        lockApplication(locked);
    }
}

// Unlocking

void ApplicationsLockerCentralService::checkEnteredPassword(const QString& typed,
                                                            const ApplicationEntity& entity) {
    // A password the keyring cannot give, or one the guard says is not the owner's, is checked
    // by the guard.
    if (guarded() && (guardDoubtsPassword || passwordUnknown())) {
        checkWithGuard(typed, entity, lockSerial);
        return;
    }
    // An empty stored password (none, or an unreadable keyring) never opens a lock.
    const bool right = PASSWORD && !PASSWORD->isEmpty() && canonicallyEqual(typed, *PASSWORD);
    if (!right) {
        presenter->lockWindow()->displayErrorMessage(passwordUnknown() ? PASSWORD_UNKNOWN_LINE
                                                                       : QString());
        return;
    }
    acceptPassword(entity);
}

void ApplicationsLockerCentralService::acceptPassword(const ApplicationEntity& entity) {
    unmarkBlocked();
    releaseRunsOf(entity);
    systemApplicationsService->focusOnApplication(entity.bundleIdentifier);
    unlockApplication();
    lockNextBlockedApplication();
}

void ApplicationsLockerCentralService::handleSpecialKey(const ApplicationEntity& entity) {
    // The lock window lets go of the focus by itself; activating the blocked application here
    // would hand it the keyboard under its lock, so it stays where it is while locked.
    if (isLocked(entity.bundleIdentifier))
        return;
    systemApplicationsService->focusOnApplication(entity.bundleIdentifier);
}

void ApplicationsLockerCentralService::unlockApplication() {
    isProtected = false;
    presenter->close();
}

void ApplicationsLockerCentralService::releaseLock() {
    unmarkBlocked();
    unlockApplication();
    lockNextBlockedApplication();
}

void ApplicationsLockerCentralService::lockNextBlockedApplication() {
    while (!waiting.empty()) {
        const ApplicationEntity blocked = waiting.back();
        waiting.pop_back();
        if (const auto running =
                systemApplicationsService->applicationIsRunning(blocked.bundleIdentifier)) {
            lockApplication(blocked);
            return;
        }
    }
}

// The system guard

bool ApplicationsLockerCentralService::guarded() const {
    return guardConnected && platform::Guard::shared().protecting();
}

void ApplicationsLockerCentralService::connectGuard() {
    if (guardConnected)
        return;
    guardConnected = true;
    auto& guard = platform::Guard::shared();
    std::weak_ptr<ApplicationsLockerCentralService*> self = alive;
    guard.onConnected = [self] {
        if (const auto service = self.lock())
            (*service)->greetGuard();
    };
    guard.onDisconnected = [self] {
        if (const auto service = self.lock()) {
            (*service)->guardDoubtsPassword = false;
            printLine(
                QStringLiteral("The system guard went away: standard protection until it "
                               "is back"));
        }
    };
    guard.onLaunchHeld = [self](pid_t pid, unsigned long long startTime, const QString& program) {
        if (const auto service = self.lock())
            (*service)->handleLaunchHeld(pid, startTime, program);
    };
    guard.start();
}

// The guard learns the password Vaultine holds: it enrols a first one and checks any other.
void ApplicationsLockerCentralService::greetGuard() {
    const QString password = passwordUnknown() ? QString() : PASSWORD.value_or(QString());
    std::weak_ptr<ApplicationsLockerCentralService*> self = alive;
    platform::Guard::shared().hello(password, [self](platform::Guard::Answer answer) {
        if (const auto service = self.lock())
            (*service)->onGuardGreeted(answer);
    });
}

void ApplicationsLockerCentralService::onGuardGreeted(platform::Guard::Answer answer) {
    using Answer = platform::Guard::Answer;
    if (answer == Answer::notGenuine) {
        printLine(
            QStringLiteral("The system guard does not take this Vaultine for the installed "
                           "one: standard protection"));
        return;
    }
    if (answer == Answer::otherDisplay) {
        printLine(
            QStringLiteral("The system guard does not take this Vaultine's display for its "
                           "session's (DISPLAY or WAYLAND_DISPLAY names another): its locks would "
                           "not be seen, standard protection"));
        return;
    }
    if (answer == Answer::traceable) {
        printLine(QStringLiteral(
            "The system guard refuses this Vaultine: it is traced, or other programs "
            "of the user may attach to it (it could not make itself non-dumpable): "
            "standard protection"));
        return;
    }
    if (answer != Answer::ok && answer != Answer::wrongPassword)
        return;
    guardDoubtsPassword = answer == Answer::wrongPassword && !passwordUnknown();
    if (guardDoubtsPassword)
        printLine(
            QStringLiteral("The keyring's password is not the one the system guard keeps: "
                           "locks open with the guard's, which then goes back into the "
                           "keyring"));
    printLine(platform::Guard::protectionSummary(true));
    programsToldToGuard.clear();
    protectionToldToGuard.reset();
    syncGuardPolicy(std::nullopt);
}

// A launch the guard holds is locked whatever the settings read from the user's files say (the
// list of known runs included: anyone can write it): only the password lowers what the guard
// holds. A run the password released in this process, while the guard was away, is told released.
void ApplicationsLockerCentralService::handleLaunchHeld(pid_t pid, unsigned long long startTime,
                                                        const QString& program) {
    if (lockedRuns->releasedByPassword({pid, startTime})) {
        platform::Guard::shared().runReleased(pid, startTime);
        return;
    }
    const auto application =
        platform::Workspace::shared().applicationOfLaunch(pid, startTime, program);
    ApplicationEntity entity = application
                                   ? ApplicationEntity::fromRunningApplication(*application)
                                   : ApplicationEntity(QFileInfo(program).fileName(), program);
    entity.processIdentifier = pid;
    entity.processStartTime = startTime;
    printLine(QStringLiteral("Held by the system guard: ") + entity.name);
    if (gate)
        lockedRuns->noteHeldByGuard(entity);
    if (!isProtected || !protectedApplication || !presenter->lockWindow() ||
        !LockedRuns::sharesIdentifier(*protectedApplication, entity))
        lockApplication(entity);
    tellGuardLockShown(entity);
}

// Told once the lock window is on screen: the guard lets the run go on under it. Never on the
// gate, where nothing hides the run: the guard keeps it frozen until the password releases it.
void ApplicationsLockerCentralService::tellGuardLockShown(const ApplicationEntity& entity) {
    if (gate || !guardConnected || !entity.processIdentifier)
        return;
    platform::MainQueue::shared().async(
        [pid = entity.processIdentifier, startTime = entity.processStartTime] {
            platform::Guard::shared().lockShown(pid, startTime);
        });
}

QStringList ApplicationsLockerCentralService::guardedPrograms() const {
    QStringList programs;
    for (const ApplicationEntity& entity : MONITORED_APPS)
        programs += platform::Workspace::shared().lockablePrograms(entity.bundleIdentifier);
    programs.removeDuplicates();
    programs.sort();
    return programs;
}

// Raises what the guard holds to what Vaultine locks; with the password the guard knows, also
// lowers it to that, since the owner changed the settings in this run.
void ApplicationsLockerCentralService::syncGuardPolicy(
    const std::optional<QString>& previousPassword) {
    if (!guarded())
        return;
    using Change = platform::Guard::Change;
    auto& guard = platform::Guard::shared();
    const bool mayLower = previousPassword && !previousPassword->isEmpty();
    QString password = previousPassword.value_or(QString());
    if (mayLower && PASSWORD && !PASSWORD->isEmpty() && *PASSWORD != password) {
        guard.changePolicy({Change::newPassword, password, 0, {}, *PASSWORD}, {});
        password = *PASSWORD;
    }
    const QStringList programs = guardedPrograms();
    for (const QString& program : programs) {
        if (!programsToldToGuard.contains(program))
            guard.changePolicy({Change::lockProgram, {}, 0, program, {}}, {});
    }
    for (const QString& program : programsToldToGuard) {
        if (mayLower && !programs.contains(program))
            guard.changePolicy({Change::unlockProgram, password, 0, program, {}}, {});
    }
    // Told only when it changes: each change the guard takes is saved and makes it judge every
    // program again.
    const bool active = ACTIVE.value_or(true);
    if (active && protectionToldToGuard != true)
        guard.changePolicy({Change::switchOn, {}, platform::Guard::protection, {}, {}}, {});
    else if (!active && mayLower && protectionToldToGuard != false)
        guard.changePolicy({Change::switchOff, password, platform::Guard::protection, {}, {}}, {});
    if (active || mayLower)
        protectionToldToGuard = active;
    programsToldToGuard = mayLower ? programs : programsToldToGuard + programs;
    programsToldToGuard.removeDuplicates();
}

// The guard checks what was typed; the password it takes goes back into the keyring in place of
// what was lost or changed there.
void ApplicationsLockerCentralService::checkWithGuard(const QString& typed,
                                                      const ApplicationEntity& entity,
                                                      unsigned serial) {
    if (guardChecking)
        return;
    guardChecking = true;
    std::weak_ptr<ApplicationsLockerCentralService*> self = alive;
    platform::Guard::shared().hello(
        typed, [self, typed, entity, serial](platform::Guard::Answer answer) {
            const auto service = self.lock();
            if (!service)
                return;
            ApplicationsLockerCentralService& locker = **service;
            locker.guardChecking = false;
            if (answer != platform::Guard::Answer::ok) {
                if (locker.isCurrentLock(serial) && locker.presenter->lockWindow())
                    locker.presenter->lockWindow()->displayErrorMessage(QString());
                return;
            }
            locker.guardDoubtsPassword = false;
            locker.PASSWORD = typed;
            locker.passwordStored = true;
            if (!locker.configurationAndPreferencesService.setApplicationPassword(typed))
                printLine(
                    QStringLiteral("The keyring did not take the password back; the system "
                                   "guard checks it until it does"));
            if (locker.isCurrentLock(serial))
                locker.acceptPassword(entity);
        });
}
