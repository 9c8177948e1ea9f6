// The loop, and the exec side of the guard: judging, holding, freezing within the bound.
#include "guard/GuardServer.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

#include "guard/ElfBuildId.h"
#include "guard/ExecDecision.h"

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
    if (!watcher.start() || watcher.markFilesystems() == 0) {
        std::fprintf(stderr, "vaultine-guard: fanotify refused exec-permission marks\n");
        return false;
    }
    // The socket comes last: where it is, a guard that holds executions answers.
    listener = listenAt(options.runtimeDirectory);
    if (!listener) {
        std::fprintf(stderr, "vaultine-guard: cannot listen in %s\n",
                     options.runtimeDirectory.c_str());
        return false;
    }
    return true;
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
}

void GuardServer::pollOnce(int signals) {
    std::vector<pollfd> fds = {{signals, POLLIN, 0},
                               {watcher.fd(), POLLIN, 0},
                               {listener.get(), POLLIN, 0},
                               {worker->fd(), POLLIN, 0}};
    std::vector<std::uint64_t> ids;
    for (const auto& [id, client] : clients) {
        fds.push_back({client.socket.get(), POLLIN, 0});
        ids.push_back(id);
    }
    int timeout = -1;
    if (!held.empty()) {
        const auto first = std::min_element(held.begin(), held.end(), [](auto& a, auto& b) {
                               return a.deadline < b.deadline;
                           })->deadline;
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(first - Clock::now());
        timeout = static_cast<int>(std::max<std::int64_t>(0, wait.count()));
    }
    if (::poll(fds.data(), fds.size(), timeout) > 0) {
        if (fds[1].revents)
            onExecEvents();
        if (fds[2].revents)
            onAccept();
        if (fds[3].revents)
            worker->finish();
        for (std::size_t i = 0; i < ids.size(); ++i) {
            if (fds[4 + i].revents)
                onClient(ids[i]);
        }
    }
    expireHolds();
}

void GuardServer::onExecEvents() {
    for (ExecEvent& event : watcher.readEvents())
        judgeExec(std::move(event));
}

void GuardServer::judgeExec(ExecEvent event) {
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
    const ExecAnswer answer = decideExec(policies, *uid, lineage, file);
    if (answer == ExecAnswer::Hold && !lineage.empty()) {
        hold(std::move(event), *uid, lineage.front(), std::move(file.path));
        return;
    }
    if (answer == ExecAnswer::AllowAndIgnore)
        watcher.ignore(event, true);
    watcher.answer(event, answer != ExecAnswer::Hold);
}

void GuardServer::hold(ExecEvent event, uid_t uid, const Run& run, std::string path) {
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
