// The process watcher: parses each new process once, groups the processes of an application into
// its topmost instance, and reports instances that start and end.
#include "platform/linux/ProcessWatcher.h"

#include <sys/inotify.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <array>

#include "platform/linux/OwnBundles.h"

namespace platform {

namespace {

// The safety net for what no event reports (a process that exec'd an application late, pidfds
// unavailable); slow enough to cost nothing measurable.
constexpr int sweepIntervalMs = 5000;
constexpr int fullSweepEvery = 6;  // 30 s
// After a launch event the exec may still be under way; these retries catch it once it is done.
constexpr std::array<int, 7> retryDelaysMs = {1, 1, 2, 6, 15, 50, 100};
// The first retries read only new and just-seen processes, the quickest to a fresh launch; from
// this one on (10 ms after the event) every process is read, so that an exec by a process that ran
// for a while (a script that sleeps, then execs the program) is seen before its first window.
constexpr int firstFullRetry = 3;
// Longer parent chains than this are not real (and guard against a corrupt one).
constexpr int maximumAncestry = 256;
// The pidfds held at most: locked runs are few; past this the sweep reports their ends too.
constexpr std::size_t maximumExitWatches = 256;

int openPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

}  // namespace

void ProcessWatcher::NotifierDeleter::operator()(QSocketNotifier* notifier) const {
    // The notifier may be the one whose signal is being handled.
    notifier->setEnabled(false);
    notifier->deleteLater();
}

ProcessWatcher::ProcessWatcher(DesktopEntryCatalogue& catalogue, QStringList extraPrograms)
    : catalogue(catalogue),
      matcher(catalogue),
      extraPrograms(std::move(extraPrograms)),
      user(::getuid()),
      ownSession(session::readSessionMarks(::getpid(), true)) {
    QFile shells(QStringLiteral("/etc/shells"));
    if (shells.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : shells.read(64 * 1024).split('\n')) {
            const QString path =
                QFileInfo(QString::fromLocal8Bit(line.trimmed())).canonicalFilePath();
            if (!line.startsWith('#') && !path.isEmpty() && !shellPrograms.contains(path))
                shellPrograms.append(path);
        }
    }
}

ProcessWatcher::~ProcessWatcher() = default;

void ProcessWatcher::start() {
    if (started)
        return;
    started = true;
    launchWatches.reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (launchWatches) {
        launchNotifier =
            std::make_unique<QSocketNotifier>(launchWatches.get(), QSocketNotifier::Read, this);
        connect(launchNotifier.get(), &QSocketNotifier::activated, this,
                [this] { readLaunchEvents(); });
    }
    catalogueGeneration = catalogue.generation();
    synchronizeLaunchWatches();
    scanNow();
    reportChanges = true;
    sweepTimer.setInterval(sweepIntervalMs);
    connect(&sweepTimer, &QTimer::timeout, this, [this] {
        catalogueMayHaveChanged();
        if (watchesLost)
            synchronizeLaunchWatches();
        // Every exec of a watched program is signalled by its open and followed by a full scan,
        // so most sweeps only pick up new processes; every few a full one looks for an exec of
        // any process, should an event have been missed.
        const bool full = ++sweepCount % fullSweepEvery == 0;
        scanNow(full ? ScanDepth::full : ScanDepth::quick);
        // The locked applications may have changed.
        updateExitWatches();
    });
    sweepTimer.start();
    retryTimer.setSingleShot(true);
    connect(&retryTimer, &QTimer::timeout, this, [this] {
        scanNow(retryStep >= firstFullRetry ? ScanDepth::full : ScanDepth::quick);
        if (++retryStep < static_cast<int>(retryDelaysMs.size()))
            retryTimer.start(retryDelaysMs[retryStep]);
    });
}

std::vector<RunningApplication> ProcessWatcher::instances() const {
    std::lock_guard lock(instancesMutex);
    std::vector<RunningApplication> result;
    result.reserve(instancesByKey.size());
    for (const auto& [key, instance] : instancesByKey)
        result.push_back(instance.application);
    return result;
}

std::optional<RunningApplication> ProcessWatcher::instanceWithProcess(pid_t pid) const {
    std::lock_guard lock(instancesMutex);
    for (const auto& [key, instance] : instancesByKey) {
        if (instance.members.count(pid))
            return instance.application;
    }
    return std::nullopt;
}

std::optional<RunningApplication> ProcessWatcher::application(InstanceKey key) const {
    std::lock_guard lock(instancesMutex);
    const auto found = instancesByKey.find(key);
    return found == instancesByKey.end() ? std::nullopt : std::optional(found->second.application);
}

std::optional<ProcessWatcher::InstanceKey> ProcessWatcher::instanceOwning(pid_t pid) {
    if (pid > 0 && !records.count(pid))
        scanNow();
    for (int depth = 0; pid > 0 && depth < maximumAncestry; ++depth) {
        const auto record = records.find(pid);
        if (record == records.end())
            return std::nullopt;
        if (record->second.instance)
            return record->second.instance;
        pid = record->second.status.parent;
    }
    return std::nullopt;
}

void ProcessWatcher::scanSoon() {
    scanNow(ScanDepth::quick);
    retryStep = 0;
    retryTimer.start(retryDelaysMs[0]);
}

void ProcessWatcher::scanNow(ScanDepth depth) {
    // A report handler that asks for a scan gets it once the current one has settled.
    if (scanning) {
        rescanRequested = true;
        return;
    }
    do {
        rescanRequested = false;
        scanning = true;
        scanProcesses(depth);
        settle();
        scanning = false;
        // Whoever asked meanwhile gets a full scan.
        depth = ScanDepth::full;
    } while (rescanRequested);
}

void ProcessWatcher::scanProcesses(ScanDepth depth) {
    constexpr std::chrono::seconds recent{1};
    const auto now = std::chrono::steady_clock::now();
    const std::vector<pid_t> pids = proc::listProcesses();
    std::vector<pid_t> vanished;
    for (const auto& [pid, record] : records) {
        if (!std::binary_search(pids.begin(), pids.end(), pid))
            vanished.push_back(pid);
    }
    for (const pid_t pid : vanished)
        removeProcess(pid);
    std::vector<proc::ProcessStatus> fresh;
    for (const pid_t pid : pids) {
        const auto known = records.find(pid);
        if (known != records.end()) {
            // The same executable means the same process: only an exec or a reused pid changes
            // it, and a process of another user is of no interest either way.
            if (known->second.status.owner != user ||
                (depth == ScanDepth::quick && now - known->second.seen > recent) ||
                proc::readExecutable(pid) == known->second.status.executable)
                continue;
            removeProcess(pid);
        }
        if (std::optional<proc::ProcessStatus> status = proc::readStatus(pid))
            fresh.push_back(std::move(*status));
    }
    // Parents start before their children, so each child finds its parent's instance.
    std::sort(fresh.begin(), fresh.end(),
              [](const auto& left, const auto& right) { return left.startTime < right.startTime; });
    for (const proc::ProcessStatus& status : fresh)
        addProcess(status);
    if (rematchRequested)
        rematchUnmatched();
    if (!fresh.empty() && onProcessesAppeared)
        onProcessesAppeared();
}

void ProcessWatcher::addProcess(const proc::ProcessStatus& status) {
    Record& record = records[status.pid];
    record.status = status;
    record.seen = std::chrono::steady_clock::now();
    if (status.owner != user)
        return;
    matchProcess(status.pid);
    if (!record.instance && shellPrograms.contains(status.executable))
        claimTerminalHolder(status.pid);
}

bool ProcessWatcher::addClaims(InstanceKey key, const QStringList& identifiers) {
    bool changed = false;
    {
        std::lock_guard lock(instancesMutex);
        RunningApplication& application = instancesByKey[key].application;
        for (const QString& identifier : identifiers) {
            if (!application.isClaimedBy(identifier)) {
                application.otherBundleIdentifiers.append(identifier);
                changed = true;
            }
        }
    }
    if (changed)
        reclaimedKeys.insert(key);
    return changed;
}

// The holder of the shell's pseudo-terminal is its parent or a near ancestor (a terminal widget
// spawns the shell itself, or through a small helper); the first of them with an instance that
// holds the terminal's controlling side is claimed as a terminal.
void ProcessWatcher::claimTerminalHolder(pid_t shell) {
    const std::optional<int> terminal = proc::readPseudoTerminalIndex(shell);
    if (!terminal || !belongsToThisSession(shell))
        return;
    pid_t ancestor = records[shell].status.parent;
    for (int depth = 0; depth < 4 && ancestor > 1; ++depth) {
        const auto record = records.find(ancestor);
        if (record == records.end())
            return;
        const InstanceKey key = record->second.instance;
        if (key && proc::holdsPseudoTerminalMaster(ancestor, *terminal)) {
            shellsOnHeldTerminals[shell] = key;
            addClaims(key, {RunningApplication::EMBEDDED_TERMINAL_IDENTIFIER});
            return;
        }
        ancestor = record->second.status.parent;
    }
}

// The claim lasts while a shell runs on a terminal the instance holds.
void ProcessWatcher::releaseTerminalHolder(pid_t shell) {
    const auto found = shellsOnHeldTerminals.find(shell);
    if (found == shellsOnHeldTerminals.end())
        return;
    const InstanceKey key = found->second;
    shellsOnHeldTerminals.erase(found);
    if (std::any_of(shellsOnHeldTerminals.begin(), shellsOnHeldTerminals.end(),
                    [key](const auto& entry) { return entry.second == key; }))
        return;
    std::lock_guard lock(instancesMutex);
    const auto instance = instancesByKey.find(key);
    if (instance != instancesByKey.end())
        instance->second.application.otherBundleIdentifiers.removeAll(
            RunningApplication::EMBEDDED_TERMINAL_IDENTIFIER);
}

void ProcessWatcher::matchProcess(pid_t pid) {
    const std::optional<ApplicationMatch> match =
        matcher.match(records[pid].status, [this](pid_t of) { return cgroupLeafOf(of); });
    // Another login of the same user (a second display, ssh) runs its applications for itself.
    if (!match || !belongsToThisSession(pid))
        return;
    addInstance(pid, *match);
}

void ProcessWatcher::addInstance(pid_t pid, const ApplicationMatch& match) {
    std::optional<InstanceKey> key = instanceFor(pid, match.identifier);
    if (!key) {
        key = nextKey++;
        Instance instance;
        instance.application = applicationFor(match, pid);
        instance.processGroup = records[pid].status.processGroup;
        std::lock_guard lock(instancesMutex);
        instancesByKey.emplace(*key, std::move(instance));
        createdKeys.insert(*key);
    }
    join(*key, pid);
}

bool ProcessWatcher::belongsToThisSession(pid_t pid) const {
    return session::isProcessOfSession(pid, ownSession, user);
}

void ProcessWatcher::attributeWindow(pid_t pid, const QStringList& identifiers) {
    if (pid <= 0 || identifiers.isEmpty())
        return;
    if (!records.count(pid))
        scanNow();
    const auto record = records.find(pid);
    if (record == records.end())
        return;
    if (const InstanceKey key = record->second.instance) {
        if (addClaims(key, identifiers) && !scanning)
            settle();
        return;
    }
    const ApplicationMatch match = matcher.matchDeclared(identifiers, record->second.status);
    addInstance(pid, match);
    if (!scanning)
        settle();
}

RunningApplication ProcessWatcher::applicationFor(const ApplicationMatch& match, pid_t pid) const {
    RunningApplication application;
    application.processIdentifier = pid;
    application.localizedName = match.name;
    application.bundleIdentifier = match.identifier;
    application.activationPolicy = match.activationPolicy;
    application.executablePath = records.at(pid).status.executable;
    application.bundlePath = match.bundlePath;
    application.otherBundleIdentifiers = match.otherIdentifiers;
    application.processStartTime = records.at(pid).status.startTime;
    if (!match.iconName.isEmpty())
        application.icon = catalogue.iconNamed(match.iconName);
    return application;
}

QStringList ProcessWatcher::lockablePrograms(const QString& identifier) const {
    static const QRegularExpression launcher(
        QStringLiteral("^(env|busybox|sudo|pkexec|flatpak|snap|xdg-open|gio|gapplication|dbus-send|"
                       "(ba|da|z|c|tc|k|fi|mk)?sh|python[0-9.]*|perl[0-9.]*|ruby[0-9.]*|node(js)?|"
                       "java|gjs(-console)?|"
                       "mono|wine[0-9]*|lua[0-9.]*|luajit|php[0-9.]*|tclsh[0-9.]*|wish[0-9.]*|qml["
                       "a-z]*|electron[0-9]*)$"));
    QStringList lockable;
    for (const QString& program : catalogue.programsClaimedBy(identifier)) {
        if (!shellPrograms.contains(program) &&
            !launcher.match(QFileInfo(program).fileName()).hasMatch())
            lockable.append(program);
    }
    return lockable;
}

std::optional<RunningApplication> ProcessWatcher::applicationOfLaunch(
    pid_t pid, unsigned long long startTime, const QString& program) const {
    proc::ProcessStatus status;
    status.pid = pid;
    status.startTime = startTime;
    status.owner = user;
    status.name = QFileInfo(program).fileName().left(15);
    status.executable = program;
    const auto match = matcher.match(status, [](pid_t) { return QString(); });
    if (!match)
        return std::nullopt;
    RunningApplication application;
    application.processIdentifier = pid;
    application.processStartTime = startTime;
    application.localizedName = match->name;
    application.bundleIdentifier = match->identifier;
    application.activationPolicy = match->activationPolicy;
    application.executablePath = program;
    application.bundlePath = match->bundlePath;
    application.otherBundleIdentifiers = match->otherIdentifiers;
    if (!match->iconName.isEmpty())
        application.icon = catalogue.iconNamed(match->iconName);
    return application;
}

// The instance of the same application that an ancestor belongs to; for an orphan (its parent
// ended and it was handed to a reaper) the instance it shared a process group with.
std::optional<ProcessWatcher::InstanceKey> ProcessWatcher::instanceFor(pid_t pid,
                                                                       const QString& identifier) {
    const auto sameApplication = [&](InstanceKey key) {
        const auto instance = instancesByKey.find(key);
        return instance != instancesByKey.end() &&
               instance->second.application.bundleIdentifier == identifier;
    };
    pid_t ancestor = records[pid].status.parent;
    for (int depth = 0; ancestor > 1 && depth < maximumAncestry; ++depth) {
        const auto record = records.find(ancestor);
        if (record == records.end())
            break;
        if (record->second.instance && sameApplication(record->second.instance))
            return record->second.instance;
        ancestor = record->second.status.parent;
    }
    const proc::ProcessStatus& status = records[pid].status;
    if (!parentIsReaper(status.parent))
        return std::nullopt;
    for (const auto& [key, instance] : instancesByKey) {
        if (instance.processGroup == status.processGroup && sameApplication(key))
            return key;
    }
    return std::nullopt;
}

bool ProcessWatcher::parentIsReaper(pid_t parent) const {
    if (parent <= 1)
        return true;
    const auto record = records.find(parent);
    return record != records.end() &&
           QFileInfo(record->second.status.executable).fileName() == QLatin1String("systemd");
}

void ProcessWatcher::join(InstanceKey key, pid_t pid) {
    Record& record = records[pid];
    record.instance = key;
    {
        std::lock_guard lock(instancesMutex);
        instancesByKey[key].members.insert(pid);
    }
    touchedKeys.insert(key);
}

bool ProcessWatcher::wantsExitWatch(const RunningApplication& application) const {
    if (isBundlePath(application.bundlePath))
        return true;
    const auto wanted = needsPromptEndReport;
    return wanted && wanted(application);
}

// Keeps one pidfd on the topmost process of an instance whose end is reported at once, within the
// bound; an instance without one ends at the next scan.
void ProcessWatcher::updateExitWatch(InstanceKey key) {
    const auto instance = instancesByKey.find(key);
    const auto watch = exitWatches.find(key);
    const bool wanted =
        instance != instancesByKey.end() && wantsExitWatch(instance->second.application);
    const pid_t pid = wanted ? instance->second.application.processIdentifier : 0;
    if (watch != exitWatches.end() && watch->second.pid == pid)
        return;
    if (watch != exitWatches.end())
        exitWatches.erase(watch);
    const auto record = records.find(pid);
    if (!wanted || record == records.end() || exitWatches.size() >= maximumExitWatches)
        return;
    ExitWatch added;
    added.pid = pid;
    added.pidfd.reset(openPidfd(pid));
    // Gone already (the next scan removes it), no pidfds (the sweep stands in), or the pid reused
    // between reading /proc and opening the pidfd.
    if (!added.pidfd || proc::readStartTime(pid) != record->second.status.startTime)
        return;
    added.notifier.reset(new QSocketNotifier(added.pidfd.get(), QSocketNotifier::Read, this));
    const unsigned long long startTime = record->second.status.startTime;
    connect(added.notifier.get(), &QSocketNotifier::activated, this,
            [this, pid, startTime] { processExited(pid, startTime); });
    exitWatches.emplace(key, std::move(added));
}

void ProcessWatcher::updateExitWatches() {
    std::vector<InstanceKey> keys;
    for (const auto& [key, instance] : instancesByKey)
        keys.push_back(key);
    for (const auto& [key, watch] : exitWatches) {
        if (!instancesByKey.count(key))
            keys.push_back(key);
    }
    for (const InstanceKey key : keys)
        updateExitWatch(key);
}

void ProcessWatcher::processExited(pid_t pid, unsigned long long startTime) {
    // A pidfd stays readable: its notifier has said what it had to.
    for (auto& [key, watch] : exitWatches) {
        if (watch.pid == pid)
            watch.notifier.reset();
    }
    const auto record = records.find(pid);
    if (record != records.end() && record->second.status.startTime == startTime)
        removeProcess(pid);
    // Children the process left behind are found (and kept in its instance) before it is judged.
    scanNow();
}

void ProcessWatcher::removeProcess(pid_t pid) {
    const auto record = records.find(pid);
    if (record == records.end())
        return;
    releaseTerminalHolder(pid);
    if (const InstanceKey key = record->second.instance) {
        std::lock_guard lock(instancesMutex);
        instancesByKey[key].members.erase(pid);
        touchedKeys.insert(key);
    }
    records.erase(record);
}

// Ends the instances left without processes, moves an instance whose topmost process ended to its
// oldest remaining one, and reports what started and ended.
void ProcessWatcher::settle() {
    std::vector<PendingReport> reports;
    std::set<InstanceKey> changed = touchedKeys;
    changed.insert(createdKeys.begin(), createdKeys.end());
    changed.insert(reclaimedKeys.begin(), reclaimedKeys.end());
    {
        std::lock_guard lock(instancesMutex);
        for (const InstanceKey key : touchedKeys) {
            const auto instance = instancesByKey.find(key);
            if (instance == instancesByKey.end())
                continue;
            Instance& current = instance->second;
            if (current.members.empty()) {
                if (!createdKeys.count(key))
                    reports.push_back({PendingReport::ended, key, current.application});
                instancesByKey.erase(instance);
                continue;
            }
            if (!current.members.count(current.application.processIdentifier)) {
                const pid_t oldest = *std::min_element(
                    current.members.begin(), current.members.end(), [this](pid_t a, pid_t b) {
                        return records[a].status.startTime < records[b].status.startTime;
                    });
                current.application.processIdentifier = oldest;
                current.application.processStartTime = records[oldest].status.startTime;
            }
        }
        for (const InstanceKey key : createdKeys) {
            const auto instance = instancesByKey.find(key);
            if (instance != instancesByKey.end())
                reports.push_back({PendingReport::started, key, instance->second.application});
        }
        for (const InstanceKey key : reclaimedKeys) {
            const auto instance = instancesByKey.find(key);
            if (instance != instancesByKey.end() && !createdKeys.count(key))
                reports.push_back(
                    {PendingReport::claimsChanged, key, instance->second.application});
        }
        touchedKeys.clear();
        createdKeys.clear();
        reclaimedKeys.clear();
    }
    for (const InstanceKey key : changed)
        updateExitWatch(key);
    if (reportChanges)
        report(std::move(reports));
}

void ProcessWatcher::report(std::vector<PendingReport> reports) {
    for (const PendingReport& pending : reports) {
        const InstanceHandler handler = pending.kind == PendingReport::started ? onInstanceStarted
                                        : pending.kind == PendingReport::ended
                                            ? onInstanceEnded
                                            : onInstanceClaimsChanged;
        if (handler)
            handler(pending.key, pending.application);
    }
}

QString ProcessWatcher::cgroupLeafOf(pid_t pid) {
    const auto record = records.find(pid);
    if (record == records.end())
        return proc::readCgroupLeaf(pid);
    if (!record->second.cgroupLeaf)
        record->second.cgroupLeaf = proc::readCgroupLeaf(pid);
    return *record->second.cgroupLeaf;
}

void ProcessWatcher::readLaunchEvents() {
    bool opened = false;
    alignas(inotify_event) std::array<char, 4096> buffer;
    for (;;) {
        const ssize_t length = ::read(launchWatches.get(), buffer.data(), buffer.size());
        if (length <= 0)
            break;
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + offset);
            offset += sizeof(inotify_event) + event->len;
            opened = opened || (event->mask & (IN_OPEN | IN_Q_OVERFLOW));
            // A replaced binary drops its watch; the sweep watches the new file.
            if (event->mask & IN_IGNORED) {
                watchesLost = true;
                std::erase_if(watchByProgram,
                              [event](const auto& entry) { return entry.second == event->wd; });
            }
        }
    }
    if (opened)
        scanSoon();
}

void ProcessWatcher::synchronizeLaunchWatches() {
    watchesLost = false;
    if (!launchWatches)
        return;
    QStringList wanted = catalogue.programs() + extraPrograms + shellPrograms;
    std::set<QString> wantedSet(wanted.begin(), wanted.end());
    for (auto watch = watchByProgram.begin(); watch != watchByProgram.end();) {
        if (wantedSet.count(watch->first)) {
            ++watch;
            continue;
        }
        // Several programs may be one file (hard links): keep the watch while one still wants it.
        const int descriptor = watch->second;
        watch = watchByProgram.erase(watch);
        if (std::none_of(watchByProgram.begin(), watchByProgram.end(),
                         [descriptor](const auto& entry) { return entry.second == descriptor; }))
            ::inotify_rm_watch(launchWatches.get(), descriptor);
    }
    for (const QString& program : wantedSet) {
        if (watchByProgram.count(program))
            continue;
        const int descriptor = ::inotify_add_watch(launchWatches.get(),
                                                   QFile::encodeName(program).constData(), IN_OPEN);
        if (descriptor >= 0)
            watchByProgram.emplace(program, descriptor);
    }
}

// A changed catalogue may name new programs, and processes that matched nothing may match now.
void ProcessWatcher::catalogueMayHaveChanged() {
    const quint64 generation = catalogue.generation();
    if (generation == catalogueGeneration)
        return;
    catalogueGeneration = generation;
    synchronizeLaunchWatches();
    rematchRequested = true;
    scanNow();
}

void ProcessWatcher::rematchUnmatched() {
    rematchRequested = false;
    std::vector<const proc::ProcessStatus*> unmatched;
    for (const auto& [pid, record] : records) {
        if (!record.instance && record.status.owner == user)
            unmatched.push_back(&record.status);
    }
    std::sort(unmatched.begin(), unmatched.end(), [](const auto* left, const auto* right) {
        return left->startTime < right->startTime;
    });
    for (const proc::ProcessStatus* status : unmatched)
        matchProcess(status->pid);
}

}  // namespace platform
