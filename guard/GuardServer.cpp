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

std::vector<Run> runsOf(const std::vector<ProcessRun>& lineage) {
    std::vector<Run> runs;
    for (const ProcessRun& process : lineage)
        runs.push_back({static_cast<std::uint32_t>(process.pid), process.startTime});
    return runs;
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
// locks them any longer.
void GuardServer::adoptFrozen() {
    if (!freezer)
        return;
    for (const pid_t pid : freezer->adoptFrozen()) {
        const auto uid = realUidOf(pid, readers);
        const auto startTime = startTimeOf(pid, readers);
        if (!uid || !startTime)
            continue;
        const Run run{static_cast<std::uint32_t>(pid), *startTime};
        const auto policy = policies.find(*uid);
        if (policy == policies.end() || !policy->second.protects() ||
            policy->second.isReleased(run)) {
            freezer->thaw(pid);
            continue;
        }
        char target[4096];
        const std::string link = "/proc/" + std::to_string(pid) + "/exe";
        const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
        covered.push_back(
            {*uid, run, length > 0 ? std::string(target, length) : std::string(), true});
    }
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
    for (int round = 0; round < 200 && !closed; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!closed && freezer)
            freezer->leaveKernelWaits();
    }
    closer.join();
}

void GuardServer::pollOnce(int signals) {
    enum { kSignals, kExecs, kMounts, kListener, kWorker, kRemovals, kClients };
    std::vector<pollfd> fds = {{signals, POLLIN, 0},
                               {watcher.fd(), POLLIN, 0},
                               {watcher.mountTableFd(), POLLPRI, 0},
                               {listener.get(), POLLIN, 0},
                               {worker->fd(), POLLIN, 0},
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
// program, never a loader, and opening it here would wait on the guard itself.
bool GuardServer::openedByLoader(pid_t pid) const {
    const auto executable = readers.executable(pid);
    if (!executable || watcher.watchesOpens(executable->device, executable->inode))
        return false;
    return loaders.contains(executable->device, executable->inode, [pid] {
        const std::string link = "/proc/" + std::to_string(pid) + "/exe";
        UniqueFd file(::open(link.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        return file ? buildIdOfFile(file.get()) : std::string();
    });
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
        const bool frozen = freezer && freezer->freeze(static_cast<pid_t>(launch.run.pid));
        watcher.answer(launch.event, frozen);
        if (frozen)
            covered.push_back({launch.uid, launch.run, launch.path, true});
    }
    std::erase_if(held, [](const HeldLaunch& launch) { return !launch.event.file; });
}

bool GuardServer::watchingVaultines() const {
    return !held.empty() || std::any_of(covered.begin(), covered.end(),
                                        [](const CoveredRun& run) { return !run.frozen; });
}

// Every bound while a run waits on a lock: runs that ended are forgotten, and a Vaultine that was
// stopped or traced meanwhile is dropped as if it had gone.
void GuardServer::checkVaultines() {
    const auto now = Clock::now();
    if (!watchingVaultines() || now < nextCheck)
        return;
    nextCheck = now + options.holdBound;
    std::erase_if(covered, [this](const CoveredRun& run) {
        return startTimeOf(static_cast<pid_t>(run.run.pid), readers) != run.run.startTime;
    });
    std::vector<uid_t> users;
    for (const CoveredRun& run : covered)
        users.push_back(run.uid);
    for (const HeldLaunch& launch : held)
        users.push_back(launch.uid);
    std::sort(users.begin(), users.end());
    users.erase(std::unique(users.begin(), users.end()), users.end());
    for (const uid_t uid : users)
        dropSilentVaultines(uid);
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
    std::erase_if(covered, [this](const CoveredRun& run) {
        return startTimeOf(static_cast<pid_t>(run.run.pid), readers) != run.run.startTime;
    });
    for (CoveredRun& run : covered) {
        if (run.uid == uid && !run.frozen && freezer)
            run.frozen = freezer->freeze(static_cast<pid_t>(run.run.pid));
    }
}

// The run is covered or released: a held exec goes on, a frozen run thaws.
void GuardServer::letGo(uid_t uid, const Run& run) {
    for (HeldLaunch& launch : held) {
        if (launch.uid == uid && launch.run == run) {
            watcher.answer(launch.event, true);
            covered.push_back({uid, run, launch.path, false});
        }
    }
    std::erase_if(held, [](const HeldLaunch& launch) { return !launch.event.file; });
    for (CoveredRun& covering : covered) {
        if (covering.uid == uid && covering.run == run && covering.frozen && freezer)
            covering.frozen = !freezer->thaw(static_cast<pid_t>(run.pid));
    }
}

}  // namespace guard
