// The Linux workspace: turns the process watcher's instances and the window manager's lists into
// the workspace's notifications and running-list changes, on the main thread, and launches bundles.
#include "platform/linux/LinuxWorkspace.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <QThreadPool>

#include "platform/linux/OwnBundles.h"
#include "platform/linux/ProcReader.h"

namespace platform {

namespace {

// An application that maps no window counts as launched after this long.
constexpr int didLaunchFallbackMs = 1000;
// Package installs touch many entries at once; the catalogue is rebuilt once they are done.
constexpr int catalogueSettleMs = 200;

bool onMainThread() {
    return QCoreApplication::instance() &&
           QThread::currentThread() == QCoreApplication::instance()->thread();
}

QStringList ownExecutables() {
    QStringList executables;
    for (const QString& bundle : ownBundles()) {
        if (const std::optional<BundleInfo> info = readBundleInfo(bundle)) {
            const QString real = QFileInfo(bundleExecutable(bundle, *info)).canonicalFilePath();
            if (!real.isEmpty())
                executables.append(real);
        }
    }
    return executables;
}

bool isEnvironmentName(const QString& key) {
    if (key.isEmpty())
        return false;
    for (const QChar c : key) {
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != QLatin1Char('_'))
            return false;
    }
    return true;
}

}  // namespace

QProcessEnvironment launchEnvironment(const QProcessEnvironment& inherited,
                                      const QMap<QString, QString>& configuration) {
    QProcessEnvironment environment = inherited;
    for (const QString& key : environment.keys()) {
        if (key.startsWith(launchVariablePrefix) ||
            key.startsWith(QLatin1String("GIO_LAUNCHED_DESKTOP_FILE")) ||
            key == QLatin1String("DESKTOP_STARTUP_ID"))
            environment.remove(key);
    }
    for (auto entry = configuration.begin(); entry != configuration.end(); ++entry) {
        // A key that is no variable name could not be read back (or would inject another one);
        // the environment block would end a value at its first NUL.
        if (isEnvironmentName(entry.key()) && !entry.value().contains(QChar(0)))
            environment.insert(launchVariablePrefix + entry.key(), entry.value());
    }
    return environment;
}

LinuxWorkspace::LinuxWorkspace() : LinuxWorkspace(DesktopEntryCatalogue::xdgApplicationFolders()) {}

LinuxWorkspace::LinuxWorkspace(QStringList applicationFolders)
    : catalogue(std::make_shared<DesktopEntryCatalogue>(std::move(applicationFolders))) {
    if (onMainThread()) {
        startWatching();
    } else if (QCoreApplication::instance()) {
        // Created on a background thread: the notifiers must belong to the main loop.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [this] { ensureStarted(); }, Qt::QueuedConnection);
    }
}

LinuxWorkspace::~LinuxWorkspace() = default;

void LinuxWorkspace::ensureStarted() {
    if (!context && onMainThread())
        startWatching();
}

void LinuxWorkspace::startWatching() {
    context = std::make_unique<QObject>();
    launchHolds = std::make_unique<LaunchHolds>(LaunchHolds::defaultRecordPath());
    watcher = std::make_unique<ProcessWatcher>(*catalogue, ownExecutables());
    watcher->needsPromptEndReport = promptEndReports;
    watcher->onInstanceStarted = [this](InstanceKey key, const RunningApplication& application) {
        instanceStarted(key, application);
    };
    watcher->onInstanceEnded = [this](InstanceKey key, const RunningApplication& application) {
        instanceEnded(key, application);
    };
    windows = std::make_unique<EwmhWindows>();
    watcher->onInstanceClaimsChanged = [this](InstanceKey, const RunningApplication& application) {
        instanceClaimsChanged(application);
    };
    windows->onWindowsAppeared = [this](const std::vector<WindowIdentity>& identities) {
        windowsAppeared(identities);
    };
    windows->onClientsAppeared = [this](const std::vector<pid_t>& processes) {
        clientsAppeared(processes);
    };
    windows->onActiveWindowChanged = [this](pid_t owner) { activeWindowChanged(owner); };
    // A client that shows only embedded windows is found once its process may have connected.
    watcher->onProcessesAppeared = [this] { windows->clientsMayConnect(); };
    if (catalogue->changeDescriptor() >= 0) {
        catalogueNotifier =
            std::make_unique<QSocketNotifier>(catalogue->changeDescriptor(), QSocketNotifier::Read);
        QObject::connect(catalogueNotifier.get(), &QSocketNotifier::activated, context.get(),
                         [this] {
                             catalogueNotifier->setEnabled(false);
                             QTimer::singleShot(catalogueSettleMs, context.get(),
                                                [this] { catalogueChanged(); });
                         });
    }
    watcher->start();
}

void LinuxWorkspace::catalogueChanged() {
    catalogue->refreshIfChanged();
    watcher->catalogueMayHaveChanged();
    catalogueNotifier->setEnabled(true);
}

QStringList LinuxWorkspace::applicationFolders() {
    return catalogue->folders();
}

QString LinuxWorkspace::absolutePathForAppBundleWithIdentifier(const QString& identifier) {
    if (identifier.isEmpty())
        return {};
    const QString entry = catalogue->pathForIdentifier(identifier);
    if (!entry.isEmpty())
        return entry;
    for (const QString& bundle : ownBundles()) {
        const std::optional<BundleInfo> info = readBundleInfo(bundle);
        if (info && info->identifier == identifier)
            return bundle;
    }
    return {};
}

std::optional<BundleInfo> LinuxWorkspace::infoDictionaryForApplicationAtPath(const QString& path) {
    if (isBundlePath(path))
        return readBundleInfo(path);
    return catalogue->infoForPath(path);
}

QIcon LinuxWorkspace::iconForFile(const QString& path) {
    return isBundlePath(path) ? bundleIcon(path) : catalogue->iconForPath(path);
}

std::vector<RunningApplication> LinuxWorkspace::runningApplications() {
    ensureStarted();
    return watcher ? watcher->instances() : std::vector<RunningApplication>();
}

std::optional<RunningApplication> LinuxWorkspace::runningApplicationWithProcessIdentifier(
    pid_t pid) {
    ensureStarted();
    return watcher ? watcher->instanceWithProcess(pid) : std::nullopt;
}

std::vector<RunningApplication> LinuxWorkspace::runningApplicationsWithBundleIdentifier(
    const QString& identifier) {
    std::vector<RunningApplication> matches;
    for (RunningApplication& application : runningApplications()) {
        if (application.isClaimedBy(identifier))
            matches.push_back(std::move(application));
    }
    return matches;
}

bool LinuxWorkspace::activate(const RunningApplication& application) {
    ensureStarted();
    if (!watcher || !hasWindowEvents() || !onMainThread())
        return false;
    const std::optional<InstanceKey> key = watcher->instanceOwning(application.processIdentifier);
    if (!key)
        return false;
    for (const auto& [window, owner] : windows->windowsTopmostFirst()) {
        if (owner && watcher->instanceOwning(owner) == key)
            return windows->activateWindow(window);
    }
    return false;
}

bool LinuxWorkspace::launchApplication(const QString& bundlePath,
                                       const QMap<QString, QString>& configuration) {
    const std::optional<BundleInfo> info = readBundleInfo(bundlePath);
    if (!info || info->identifier.isEmpty())
        return false;
    const QString executable = bundleExecutable(bundlePath, *info);
    if (executable.isEmpty() || !QFileInfo(executable).isExecutable())
        return false;
    if (watcher && onMainThread())
        watcher->scanNow();
    // The running instance is the launch's result; a second one would fight it for its name.
    if (!runningApplicationsWithBundleIdentifier(info->identifier).empty())
        return true;
    QProcess process;
    process.setProgram(executable);
    process.setArguments({QStringLiteral("-psn_0_%1").arg(++launchSerial)});
    process.setProcessEnvironment(
        launchEnvironment(QProcessEnvironment::systemEnvironment(), configuration));
    // Detached in a session of its own, so that it outlives us and our terminal.
    if (!process.startDetached())
        return false;
    if (watcher && onMainThread())
        watcher->scanSoon();
    return true;
}

Workspace::ObserverId LinuxWorkspace::addObserver(WorkspaceNotification name,
                                                  NotificationHandler handler) {
    return notificationObservers.add(
        [name, handler = std::move(handler)](WorkspaceNotification posted,
                                             const WorkspaceNotificationInfo& info) {
            if (posted == name && handler)
                handler(info);
        });
}

Workspace::ObserverId LinuxWorkspace::observeRunningApplications(
    RunningApplicationsHandler handler) {
    return listObservers.add(std::move(handler));
}

void LinuxWorkspace::removeObserver(ObserverId id) {
    notificationObservers.remove(id);
    listObservers.remove(id);
}

void LinuxWorkspace::post(WorkspaceNotification name, const WorkspaceNotificationInfo& info) {
    notificationObservers.notify(name, info);
}

void LinuxWorkspace::changeRunningApplications(const RunningApplicationsChange& change) {
    listObservers.notify(change);
}

void LinuxWorkspace::instanceStarted(InstanceKey key, const RunningApplication& application) {
    changeRunningApplications({{application}, {}});
    if (application.activationPolicy != ActivationPolicy::regular)
        return;
    post(WorkspaceNotification::willLaunchApplication,
         {application.processIdentifier, application});
    // A window mapped before the launch was seen already counts.
    if (instanceHasWindow(key)) {
        post(WorkspaceNotification::didLaunchApplication,
             {application.processIdentifier, application});
        return;
    }
    auto timer = std::make_unique<QTimer>();
    timer->setSingleShot(true);
    QObject::connect(timer.get(), &QTimer::timeout, context.get(),
                     [this, key] { reportDidLaunch(key); });
    timer->start(didLaunchFallbackMs);
    awaitingDidLaunch[key] = std::move(timer);
}

void LinuxWorkspace::holdLaunch(pid_t pid, unsigned long long startTime, LaunchHold until) {
    if (!launchHolds || !onMainThread())
        return;
    if (until == LaunchHold::untilLockShown) {
        launchHolds->hold(pid, startTime);
        return;
    }
    // Native Wayland windows are not seen: a process that may be connected to the display (it
    // holds a socket it did not get as a standard stream: a window needs one), or whose X window
    // is known, may show one and is never stopped.
    const std::optional<InstanceKey> key = watcher ? watcher->instanceOwning(pid) : std::nullopt;
    if ((key && instanceHasWindow(*key)) || proc::holdsSocketsBeyondStandardStreams(pid)) {
        qInfo().noquote()
            << QStringLiteral("Process %1 not held: it may show a window already").arg(pid);
        return;
    }
    launchHolds->hold(pid, startTime, true);
}

void LinuxWorkspace::releaseLaunch(pid_t pid) {
    if (launchHolds && onMainThread())
        launchHolds->release(pid);
}

void LinuxWorkspace::releaseAllLaunchHolds() {
    if (launchHolds && onMainThread())
        launchHolds->releaseAll();
}

std::vector<std::pair<pid_t, unsigned long long>> LinuxWorkspace::takeOverLaunchHolds() {
    ensureStarted();
    return launchHolds && onMainThread() ? launchHolds->takeOver()
                                         : std::vector<std::pair<pid_t, unsigned long long>>();
}

bool LinuxWorkspace::holdsLaunch(pid_t pid, unsigned long long startTime) {
    return launchHolds && onMainThread() && launchHolds->isHolding(pid, startTime);
}

bool LinuxWorkspace::endRun(pid_t pid, unsigned long long startTime) {
    ensureStarted();
    return launchHolds && onMainThread() && launchHolds->endRun(pid, startTime);
}

QStringList LinuxWorkspace::lockablePrograms(const QString& identifier) {
    ensureStarted();
    return watcher ? watcher->lockablePrograms(identifier) : QStringList();
}

std::optional<RunningApplication> LinuxWorkspace::applicationOfLaunch(pid_t pid,
                                                                      unsigned long long startTime,
                                                                      const QString& program) {
    ensureStarted();
    return watcher ? watcher->applicationOfLaunch(pid, startTime, program) : std::nullopt;
}

void LinuxWorkspace::setPromptEndReports(std::function<bool(const RunningApplication&)> wanted) {
    promptEndReports = std::move(wanted);
    if (watcher)
        watcher->needsPromptEndReport = promptEndReports;
}

bool LinuxWorkspace::instanceHasWindow(InstanceKey key) {
    if (!hasWindowEvents())
        return false;
    for (const auto& [window, owner] : windows->windowsTopmostFirst()) {
        if (owner && watcher->instanceOwning(owner) == key)
            return true;
    }
    return false;
}

void LinuxWorkspace::reportDidLaunch(InstanceKey key) {
    const auto awaiting = awaitingDidLaunch.find(key);
    if (awaiting == awaitingDidLaunch.end())
        return;
    // Deleted later: this may run from the timer's own signal.
    awaiting->second.release()->deleteLater();
    awaitingDidLaunch.erase(awaiting);
    if (const std::optional<RunningApplication> application = watcher->application(key))
        post(WorkspaceNotification::didLaunchApplication,
             {application->processIdentifier, *application});
}

void LinuxWorkspace::instanceEnded(InstanceKey key, const RunningApplication& application) {
    if (const auto awaiting = awaitingDidLaunch.find(key); awaiting != awaitingDidLaunch.end()) {
        awaiting->second.release()->deleteLater();
        awaitingDidLaunch.erase(awaiting);
    }
    if (activeInstance == key)
        activeInstance.reset();
    changeRunningApplications({{}, {application}});
    if (application.activationPolicy == ActivationPolicy::regular)
        post(WorkspaceNotification::didTerminateApplication,
             {application.processIdentifier, application});
}

// Windows are the second line: one that declares an application, or whose process runs a copy of
// an application's program, makes its process an instance of it (or claims an instance for it),
// whatever the process was matched as at launch.
void LinuxWorkspace::windowsAppeared(const std::vector<WindowIdentity>& identities) {
    for (const WindowIdentity& identity : identities) {
        if (identity.process <= 0 || identity.process == ::getpid())
            continue;
        attributeToApplications(identity.process, identity.names());
        // Resolving an unknown owner scans /proc, which also reports a launch not seen yet.
        if (const std::optional<InstanceKey> key = watcher->instanceOwning(identity.process))
            reportDidLaunch(*key);
    }
}

// A large program without a build-id is compared byte for byte on the global queue; what it is
// found to be claims the process then, as a window's names would have.
void LinuxWorkspace::compareProgramContentLater(pid_t pid, const QString& image) {
    const std::optional<unsigned long long> startTime = proc::readStartTime(pid);
    if (!startTime)
        return;
    QPointer<QObject> guard = context.get();
    QThreadPool::globalInstance()->start(
        [catalogue = catalogue, guard, pid, image, startTime = *startTime, this] {
            const QStringList identifiers =
                catalogue
                    ->identifiersOfProgramContent(image, DesktopEntryCatalogue::ByteComparison::all)
                    .identifiers;
            if (identifiers.isEmpty() || !guard)
                return;
            QMetaObject::invokeMethod(
                guard.data(),
                [this, pid, startTime, identifiers] {
                    if (proc::readStartTime(pid) != startTime)
                        return;
                    watcher->attributeWindow(pid, identifiers);
                    if (const std::optional<InstanceKey> key = watcher->instanceOwning(pid))
                        reportDidLaunch(*key);
                },
                Qt::QueuedConnection);
        });
}

// Every client of our display is attributed by its process, as a window of it would be: one that
// shows only embedded or override-redirect windows is locked all the same.
void LinuxWorkspace::clientsAppeared(const std::vector<pid_t>& processes) {
    for (const pid_t process : processes) {
        if (process > 0 && process != ::getpid())
            attributeToApplications(process, {});
    }
}

void LinuxWorkspace::attributeToApplications(pid_t process, const QStringList& windowNames) {
    QStringList identifiers;
    const auto add = [&identifiers](const QStringList& found) {
        for (const QString& identifier : found) {
            if (!identifiers.contains(identifier))
                identifiers.append(identifier);
        }
    };
    for (const QString& name : windowNames)
        add(catalogue->identifiersOfWindowName(name));
    // Its process may run a renamed, altered copy or a hard link of a program, whatever names the
    // window declares (a private entry can name the copy and its class): the content tells, by
    // build-id or by bytes.
    const QString image = proc::readProgramImagePath(process);
    const DesktopEntryCatalogue::ContentIdentifiers content =
        catalogue->identifiersOfProgramContent(image, DesktopEntryCatalogue::ByteComparison::quick);
    add(content.identifiers);
    if (content.largerComparisonLeft)
        compareProgramContentLater(process, image);
    watcher->attributeWindow(process, identifiers);
}

// An instance that a window showed to be another application's too is announced again, so that
// the lock of that application applies to it.
void LinuxWorkspace::instanceClaimsChanged(const RunningApplication& application) {
    if (application.activationPolicy != ActivationPolicy::regular) {
        changeRunningApplications({{application}, {}});
        return;
    }
    post(WorkspaceNotification::willLaunchApplication,
         {application.processIdentifier, application});
}

void LinuxWorkspace::activeWindowChanged(pid_t owner) {
    const std::optional<InstanceKey> key =
        owner ? watcher->instanceOwning(owner) : std::optional<InstanceKey>();
    if (key == activeInstance)
        return;
    if (activeInstance)
        post(WorkspaceNotification::didDeactivateApplication,
             {activeApplication.processIdentifier, activeApplication});
    activeInstance = key;
    if (!key)
        return;
    if (const std::optional<RunningApplication> application = watcher->application(*key)) {
        activeApplication = *application;
        post(WorkspaceNotification::didActivateApplication,
             {application->processIdentifier, *application});
    }
}

std::unique_ptr<Workspace> Workspace::createDefault() {
    return std::make_unique<LinuxWorkspace>();
}

}  // namespace platform
