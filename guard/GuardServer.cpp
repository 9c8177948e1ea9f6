// The loop, and the exec side of the guard: judging, holding, freezing within the bound.
#include "guard/GuardServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include "guard/ElfBuildId.h"

namespace guard {

namespace {

std::string pathOfFd(int fd) {
    char target[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

std::string executablePath(pid_t pid) {
    char target[4096];
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

std::vector<Run> runsOf(const std::vector<ProcessRun>& lineage) {
    std::vector<Run> runs;
    for (const ProcessRun& process : lineage)
        runs.push_back({static_cast<std::uint32_t>(process.pid), process.startTime});
    return runs;
}

// Whether the program a process runs is on a mount where reading it waits on nobody (no FUSE
// server, automounter or network server), as that process's own mount table says.
bool runsFromQuietMount(pid_t pid, const ProcessReaders& readers) {
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    struct statx status {};
    const auto mountinfo = readers.procFile(pid, "mountinfo");
    return mountinfo &&
           ::statx(AT_FDCWD, link.c_str(), AT_STATX_DONT_SYNC, STATX_MNT_ID, &status) == 0 &&
           (status.stx_mask & STATX_MNT_ID) &&
           quietMountsIn(*mountinfo).contains(status.stx_mnt_id);
}

// The build-id of the program a process runs. The caller makes sure the guard does not watch opens
// of that file, and that it is on a quiet mount.
std::string buildIdOfRunningProgram(pid_t pid) {
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    UniqueFd file(::open(link.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    return file ? buildIdOfFile(file.get()) : std::string();
}

UniqueFd stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    return UniqueFd(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
}

}  // namespace

GuardServer::GuardServer(GuardOptions options, std::unique_ptr<Freezer> freezer)
    : options(std::move(options)),
      freezer(std::move(freezer)),
      store(this->options.stateDirectory) {}

bool GuardServer::start() {
    if (!store.prepare()) {
        std::fprintf(stderr, "vaultine-guard: cannot use %s\n", options.stateDirectory.c_str());
        return false;
    }
    policies = store.loadAll();
    for (auto& [uid, policy] : policies) {
        // Released runs that ended are forgotten: their pids may come back as other processes.
        std::erase_if(policy.releasedRuns, [this](const Run& run) {
            return startTimeOf(static_cast<pid_t>(run.pid), readers) != run.startTime;
        });
    }
    adoptFrozen();
    policyRemovals = store.watchRemovals();
    if (!policyRemovals)
        std::fprintf(stderr, "vaultine-guard: cannot watch %s for forgotten policies\n",
                     options.stateDirectory.c_str());
    // The loaders are read before any open mark exists: the guard's own opens are never held.
    loaders = systemLoaders();
    if (!watcher.start() || watcher.markFilesystems() == 0) {
        std::fprintf(stderr, "vaultine-guard: fanotify refused exec-permission marks\n");
        return false;
    }
    resetMarks();
    adoptRunning();
    // The socket comes last: where it is, a guard that holds executions answers.
    listener = listenAt(options.runtimeDirectory);
    if (!listener) {
        std::fprintf(stderr, "vaultine-guard: cannot listen in %s\n",
                     options.runtimeDirectory.c_str());
        return false;
    }
    return true;
}

// The runs a previous guard froze stay frozen and wait for their user's Vaultine, unless nothing
// locks them any longer; what a run started is frozen and thawed with it again. A process whose
// run's first process is gone stands for itself, as a run that ran under a lock.
void GuardServer::adoptFrozen() {
    if (!freezer)
        return;
    const auto frozen = freezer->adoptFrozen();
    const auto leads = [&frozen](pid_t pid, const FrozenMark& mark) {
        return mark.run == pid || !frozen.contains(mark.run);
    };
    for (const auto& [pid, mark] : frozen) {
        if (leads(pid, mark))
            adoptFrozenProcess(pid, mark.ranUnderLock || mark.run != pid, 0);
    }
    for (const auto& [pid, mark] : frozen) {
        if (!leads(pid, mark))
            adoptFrozenProcess(pid, true, mark.run);
    }
}

void GuardServer::adoptFrozenProcess(pid_t pid, bool ranUnderLock, pid_t runPid) {
    const auto uid = realUidOf(pid, readers);
    const auto startTime = startTimeOf(pid, readers);
    if (!uid || !startTime)
        return;
    const Run run{static_cast<std::uint32_t>(pid), *startTime};
    const auto policy = policies.find(*uid);
    if (policy == policies.end() || !policy->second.protects() ||
        releasedLineage(policy->second, pid)) {
        freezer->thaw(pid);
        return;
    }
    const auto owner = std::find_if(covered.begin(), covered.end(), [&](const CoveredRun& c) {
        return runPid != 0 && c.run.pid == static_cast<std::uint32_t>(runPid) && c.uid == *uid;
    });
    if (owner != covered.end())
        owner->descendants.push_back(run);
    else
        covered.push_back({*uid, run, executablePath(pid), true, ranUnderLock, {}});
}

bool GuardServer::releasedLineage(const Policy& policy, pid_t pid) const {
    const std::vector<Run> lineage = runsOf(lineageOf(pid, readers));
    return std::any_of(lineage.begin(), lineage.end(),
                       [&policy](const Run& run) { return policy.isReleased(run); });
}

// Runs of locked programs started while no guard ran are this one's too, found once at start as
// decideExec would judge their programs. They ran freely or under a lock of Vaultine alone: they
// are announced to their user's Vaultine, frozen while none is there, and thawed by its lock
// (a run the password released is told by Vaultine as released). Only the first locked run of a
// lineage is taken: what it started goes with it. The marks exist already, so that nothing
// started meanwhile goes unseen; the scan opens no file the guard watches for opens (that open
// would wait on the guard itself) nor one on a FUSE filesystem (whose server could stall it), and
// reads each other program once, at most kMaxBuildIdReads of them.
void GuardServer::adoptRunning() {
    constexpr std::size_t kMaxBuildIdReads = 256;
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::string> buildIds;
    std::vector<std::pair<CoveredRun, std::vector<Run>>> found;
    for (const pid_t pid : readers.processes ? readers.processes() : std::vector<pid_t>()) {
        const auto uid = realUidOf(pid, readers);
        const auto policy = uid ? policies.find(*uid) : policies.end();
        const auto executable = policy == policies.end() ? std::nullopt : readers.executable(pid);
        if (!executable || !policy->second.protects())
            continue;
        const std::pair key(executable->device, executable->inode);
        const auto buildId = [&, pid] {
            if (!buildIds.contains(key) && buildIds.size() < kMaxBuildIdReads)
                buildIds[key] =
                    watcher.watchesOpens(key.first, key.second) || !runsFromQuietMount(pid, readers)
                        ? std::string()
                        : buildIdOfRunningProgram(pid);
            return buildIds.contains(key) ? buildIds[key] : std::string();
        };
        ExecutedFile file{executable->device, executable->inode, executablePath(pid),
                          executable->owner,  executable->mode,  buildId};
        std::vector<Run> lineage = runsOf(lineageOf(pid, readers));
        if (!lineage.empty() && decideExec(policies, *uid, lineage, file) == ExecAnswer::Hold)
            found.push_back({{*uid, lineage.front(), file.path, false, false, {}}, lineage});
    }
    const auto taken = [this, &found](const Run& run) {
        return std::any_of(covered.begin(), covered.end(),
                           [&run](const CoveredRun& c) {
                               return c.run == run ||
                                      std::find(c.descendants.begin(), c.descendants.end(), run) !=
                                          c.descendants.end();
                           }) ||
               std::any_of(found.begin(), found.end(),
                           [&run](const auto& other) { return other.first.run == run; });
    };
    std::vector<CoveredRun> adopted;
    for (const auto& [run, lineage] : found) {
        const bool nested = std::any_of(lineage.begin() + 1, lineage.end(), taken);
        if (!nested && !isCovered(run.uid, run.run))
            adopted.push_back(run);
    }
    covered.insert(covered.end(), adopted.begin(), adopted.end());
}

void GuardServer::resetMarks() {
    std::vector<std::string> paths;
    for (const auto& [uid, policy] : policies) {
        for (const LockedProgram& program : policy.programs) {
            if (policy.protects())
                paths.push_back(program.path);
        }
    }
    watcher.resetInodeMarks(paths);
}

void GuardServer::run() {
    const UniqueFd signals = stopSignals();
    bool stopping = false;
    while (!stopping) {
        pollOnce(signals.get());
        signalfd_siginfo info{};
        stopping = ::read(signals.get(), &info, sizeof info) == sizeof info;
    }
    // Nothing held is left waiting: what no lock covers is frozen or refused on the way out.
    for (HeldLaunch& launch : held)
        launch.deadline = Clock::now();
    expireHolds();
    closeWatcher();
}

// Closing the group waits until every process that waited on one of its events has left that wait,
// which a run frozen in the wait never does by itself: the group is closed on a thread while the
// frozen runs are let out of their waits (a restart keeps them frozen).
void GuardServer::closeWatcher() {
    std::atomic<bool> closed = false;
    std::thread closer([this, &closed] {
        watcher.stop();
        closed = true;
    });
    // Most closes need no help. Each flip of the freezer gives every frozen task a step, which one
    // that had left its wait could take in user space: the flips come only once the close has
    // waited, and seldom, since one is enough to let a waiting task out.
    for (int round = 0; round < 300 && !closed; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!closed && freezer && round % 20 == 10)
            freezer->leaveKernelWaits();
    }
    closer.join();
}

void GuardServer::pollOnce(int signals) {
    enum { kSignals, kExecs, kMounts, kListener, kWorker, kReader, kRemovals, kClients };
    std::vector<pollfd> fds = {{signals, POLLIN, 0},
                               {watcher.fd(), POLLIN, 0},
                               {watcher.mountTableFd(), POLLPRI, 0},
                               {listener.get(), POLLIN, 0},
                               {worker->fd(), POLLIN, 0},
                               {reader->fd(), POLLIN, 0},
                               {policyRemovals.get(), POLLIN, 0}};
    std::vector<std::uint64_t> ids;
    for (const auto& [id, client] : clients) {
        fds.push_back({client.socket.get(), POLLIN, 0});
        ids.push_back(id);
    }
    if (::poll(fds.data(), fds.size(), pollTimeout()) > 0) {
        if (fds[kExecs].revents)
            onExecEvents();
        if (fds[kMounts].revents & (POLLPRI | POLLERR))
            watcher.markFilesystems();
        if (fds[kListener].revents)
            onAccept();
        if (fds[kWorker].revents)
            worker->finish();
        if (fds[kReader].revents)
            reader->finish();
        if (fds[kRemovals].revents)
            onPolicyRemovals();
        for (std::size_t i = 0; i < ids.size(); ++i) {
            if (fds[kClients + i].revents)
                onClient(ids[i]);
        }
    }
    checkVaultines();
    expireHolds();
}

// No wake-up at all while nothing is held and no run waits on a lock.
int GuardServer::pollTimeout() const {
    std::optional<Clock::time_point> wake;
    for (const HeldLaunch& launch : held)
        wake = std::min(wake.value_or(launch.deadline), launch.deadline);
    if (watchingVaultines())
        wake = std::min(wake.value_or(nextCheck), nextCheck);
    if (!wake)
        return -1;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*wake - Clock::now());
    return static_cast<int>(std::clamp<std::int64_t>(wait.count(), 0, 60'000));
}

void GuardServer::onExecEvents() {
    for (ExecEvent& event : watcher.readEvents())
        judgeEvent(std::move(event));
}

void GuardServer::judgeEvent(ExecEvent event) {
    struct stat status {};
    const auto uid = realUidOf(event.pid, readers);
    if (::fstat(event.file.get(), &status) != 0 || !uid) {
        watcher.answer(event, true);
        return;
    }
    const int fd = event.file.get();
    ExecutedFile file{status.st_dev, status.st_ino,  pathOfFd(fd),
                      status.st_uid, status.st_mode, [fd] { return buildIdOfFile(fd); }};
    const std::vector<Run> lineage = runsOf(lineageOf(event.pid, readers));
    const ExecAnswer answer =
        event.exec ? decideExec(policies, *uid, lineage, file)
                   : decideOpen(policies, *uid, lineage, file, openedByLoader(event.pid));
    // A run already under a lock or frozen is not held again when its loader reads the program.
    const bool again = !event.exec && !lineage.empty() && isCovered(*uid, lineage.front());
    if (answer == ExecAnswer::Hold && !lineage.empty() && !again) {
        hold(std::move(event), *uid, lineage.front(), std::move(file.path));
        return;
    }
    if (answer == ExecAnswer::AllowAndIgnore)
        watcher.ignore(event, true);
    watcher.answer(event, answer != ExecAnswer::Hold || again);
}

// The process's executable is stat()ed first: a file the guard watches for opens is a locked
// program, never a loader, and opening it here would wait on the guard itself. One the loop cannot
// read without waiting on someone (a FUSE server) is taken for a loader: its open is held like an
// exec, and answered within the bound.
bool GuardServer::openedByLoader(pid_t pid) const {
    const auto executable = readers.executable(pid);
    if (!executable || watcher.watchesOpens(executable->device, executable->inode))
        return false;
    return !runsFromQuietMount(pid, readers) ||
           loaders.contains(executable->device, executable->inode,
                            [pid] { return buildIdOfRunningProgram(pid); });
}

bool GuardServer::isCovered(uid_t uid, const Run& run) const {
    return std::any_of(covered.begin(), covered.end(), [&](const CoveredRun& covering) {
        return covering.uid == uid && covering.run == run;
    });
}

void GuardServer::hold(ExecEvent event, uid_t uid, const Run& run, std::string path) {
    dropSilentVaultines(uid);
    announce(uid, run, path);
    held.push_back({std::move(event), uid, run, std::move(path), Clock::now() + options.holdBound});
}

// A launch no lock covered in time is let run frozen, never uncovered; without a freezer it is
// refused.
void GuardServer::expireHolds() {
    const auto now = Clock::now();
    for (HeldLaunch& launch : held) {
        if (launch.deadline > now)
            continue;
        // Frozen in its exec it has shown no window and been sent no key: a lock thaws it.
        const pid_t pid = static_cast<pid_t>(launch.run.pid);
        const bool frozen = freezer && freezer->freeze(pid, {pid, false});
        watcher.answer(launch.event, frozen);
        if (frozen)
            covered.push_back({launch.uid, launch.run, launch.path, true, false, {}});
    }
    std::erase_if(held, [](const HeldLaunch& launch) { return !launch.event.file; });
}

bool GuardServer::watchingVaultines() const {
    return !held.empty() || std::any_of(covered.begin(), covered.end(),
                                        [](const CoveredRun& run) { return !run.frozen; });
}

// Every bound while a run waits on a lock: runs that ended are forgotten, and a Vaultine that was
// stopped or traced meanwhile is dropped as if it had gone. Runs of a user no Vaultine covers
// (found running at start) are frozen.
void GuardServer::checkVaultines() {
    const auto now = Clock::now();
    if (!watchingVaultines() || now < nextCheck)
        return;
    nextCheck = now + options.holdBound;
    forgetEnded();
    std::vector<uid_t> users;
    for (const CoveredRun& run : covered)
        users.push_back(run.uid);
    for (const HeldLaunch& launch : held)
        users.push_back(launch.uid);
    std::sort(users.begin(), users.end());
    users.erase(std::unique(users.begin(), users.end()), users.end());
    for (const uid_t uid : users) {
        dropSilentVaultines(uid);
        if (!hasVaultine(uid))
            freezeUncovered(uid);
    }
}

void GuardServer::dropSilentVaultines(uid_t uid) {
    std::vector<std::uint64_t> silent;
    for (const auto& [id, client] : clients) {
        if (client.vaultine && client.peer.uid == uid &&
            !peerAnswers(client.peer.pid, client.peer.startTime, readers))
            silent.push_back(id);
    }
    for (const std::uint64_t id : silent)
        dropClient(id);
}

void GuardServer::freezeUncovered(uid_t uid) {
    forgetEnded();
    for (CoveredRun& run : covered) {
        if (run.uid == uid && !run.frozen)
            freezeRun(run);
    }
}

bool GuardServer::isAlive(const Run& run) const {
    return startTimeOf(static_cast<pid_t>(run.pid), readers) == run.startTime;
}

// Runs whose first process ended are forgotten (cgroup v2 lets SIGKILL through a freeze); what
// they started and is still frozen stands for itself, as a run that ran under a lock.
void GuardServer::forgetEnded() {
    std::vector<CoveredRun> orphans;
    for (const CoveredRun& run : covered) {
        if (isAlive(run.run))
            continue;
        for (const Run& descendant : run.descendants) {
            if (isAlive(descendant))
                orphans.push_back({run.uid,
                                   descendant,
                                   executablePath(static_cast<pid_t>(descendant.pid)),
                                   true,
                                   true,
                                   {}});
        }
    }
    std::erase_if(covered, [this](const CoveredRun& run) { return !isAlive(run.run); });
    covered.insert(covered.end(), orphans.begin(), orphans.end());
}

// The whole run: its first process, then what it started (a terminal's shell and its commands),
// looked for again until nothing new turns up, since what is not frozen yet can still start more.
bool GuardServer::freezeRun(CoveredRun& covering) {
    const pid_t pid = static_cast<pid_t>(covering.run.pid);
    if (!freezer || !freezer->freeze(pid, {pid, covering.ranUnderLock}))
        return false;
    covering.frozen = true;
    freezeDescendants(covering);
    return true;
}

void GuardServer::freezeDescendants(CoveredRun& covering) {
    // Other runs and held launches are frozen and thawed on their own.
    std::vector<pid_t> others;
    for (const CoveredRun& run : covered) {
        if (&run != &covering)
            others.push_back(static_cast<pid_t>(run.run.pid));
    }
    for (const HeldLaunch& launch : held)
        others.push_back(static_cast<pid_t>(launch.run.pid));
    const pid_t pid = static_cast<pid_t>(covering.run.pid);
    const ProcessRun first{pid, covering.run.startTime};
    for (int round = 0; round < 4; ++round) {
        bool more = false;
        for (const ProcessRun& process : descendantsOf(first, covering.uid, others, readers)) {
            const Run run{static_cast<std::uint32_t>(process.pid), process.startTime};
            if (std::find(covering.descendants.begin(), covering.descendants.end(), run) !=
                    covering.descendants.end() ||
                !freezer->freeze(process.pid, {pid, covering.ranUnderLock}))
                continue;
            covering.descendants.push_back(run);
            more = true;
        }
        if (!more)
            break;
    }
}

void GuardServer::thawRun(CoveredRun& covering) {
    if (!covering.frozen || !freezer)
        return;
    for (const Run& descendant : covering.descendants)
        freezer->thaw(static_cast<pid_t>(descendant.pid));
    covering.descendants.clear();
    covering.frozen = !freezer->thaw(static_cast<pid_t>(covering.run.pid));
}

// A lock is up over the run: a held exec goes on, and a run frozen before it ran thaws; it runs
// under that lock from now on. A run that ran under a lock before it froze stays frozen: only the
// password thaws it.
void GuardServer::letGo(uid_t uid, const Run& run) {
    for (HeldLaunch& launch : held) {
        if (launch.uid == uid && launch.run == run) {
            watcher.answer(launch.event, true);
            covered.push_back({uid, run, launch.path, false, true, {}});
        }
    }
    std::erase_if(held, [](const HeldLaunch& launch) { return !launch.event.file; });
    for (CoveredRun& covering : covered) {
        if (covering.uid != uid || covering.run != run ||
            (covering.frozen && covering.ranUnderLock))
            continue;
        thawRun(covering);
        covering.ranUnderLock = covering.ranUnderLock || !covering.frozen;
    }
}

// The password released the run: whatever held or froze it lets it go, and it is forgotten.
void GuardServer::release(uid_t uid, const Run& run) {
    letGo(uid, run);
    for (CoveredRun& covering : covered) {
        if (covering.uid == uid && covering.run == run)
            thawRun(covering);
    }
    std::erase_if(covered, [&](const CoveredRun& c) { return c.uid == uid && c.run == run; });
}

}  // namespace guard
