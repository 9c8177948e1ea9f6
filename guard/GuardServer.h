// The guard's loop: a poll over the exec events, the mount table, the state folder, the socket's
// clients, the workers (the password's, and the one that reads what users name or control) and a
// queue of deadlines, so that every held exec is answered within the bound whatever a client does.
// While a run waits on a lock, its user's Vaultines are checked on the same bound: one stopped or
// traced covers nothing.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "guard/ExecDecision.h"
#include "guard/ExecWatcher.h"
#include "guard/Freezer.h"
#include "guard/GuardProtocol.h"
#include "guard/GuardSocket.h"
#include "guard/PeerIdentity.h"
#include "guard/PolicyStore.h"
#include "guard/Worker.h"

namespace guard {

inline constexpr std::size_t kReadingThreads = 4;

struct GuardOptions {
    std::string stateDirectory = "/var/lib/vaultine-guard";
    std::string runtimeDirectory = "/run/vaultine-guard";
    std::string trustedExecutable;
    std::chrono::milliseconds holdBound{250};
};

class GuardServer {
  public:
    GuardServer(GuardOptions options, std::unique_ptr<Freezer> freezer);
    // False (with a message on stderr) when the state, the socket or fanotify cannot be set up.
    bool start();
    // Runs until SIGTERM or SIGINT.
    void run();

  private:
    using Clock = std::chrono::steady_clock;
    struct Client {
        UniqueFd socket;
        Peer peer;
        bool vaultine = false;  // a genuine Vaultine said hello
        // What it was started with (environment, arguments, display), judged once on the reading
        // worker; its requests wait meanwhile.
        std::optional<PeerVerdict> settings;
        bool judgingSettings = false;
        std::deque<protocol::Request> waiting;
    };
    struct HeldLaunch {
        ExecEvent event;
        uid_t uid = 0;
        Run run;
        std::string path;
        Clock::time_point deadline;
    };
    // A locked run let go under a lock, frozen while none covers it, or found running at start.
    struct CoveredRun {
        uid_t uid = 0;
        Run run;
        std::string path;
        bool frozen = false;
        // It ran while a lock covered it: the keys the X server queued for its windows while it
        // was frozen would reach it once thawed, so only the password thaws it, never a new lock.
        bool ranUnderLock = false;
        std::vector<Run> descendants;  // frozen with it: what it started, of its user
    };

    void pollOnce(int signals);
    int pollTimeout() const;
    void onExecEvents();
    void judgeEvent(ExecEvent event);
    bool openedByLoader(pid_t pid) const;
    bool isCovered(uid_t uid, const Run& run) const;
    void hold(ExecEvent event, uid_t uid, const Run& run, std::string path);
    void expireHolds();
    void adoptFrozen();
    void adoptFrozenProcess(pid_t pid, bool ranUnderLock, pid_t runPid);
    void adoptRunning();
    bool releasedLineage(const Policy& policy, pid_t pid) const;
    bool isAlive(const Run& run) const;
    void forgetEnded();
    bool freezeRun(CoveredRun& covering);
    void freezeDescendants(CoveredRun& covering);
    void thawRun(CoveredRun& covering);
    bool watchingVaultines() const;
    void checkVaultines();
    void dropSilentVaultines(uid_t uid);
    void onPolicyRemovals();
    void resetMarks();
    void closeWatcher();
    void onAccept();
    void onClient(std::uint64_t id);
    void dropClient(std::uint64_t id);
    void handle(std::uint64_t id, const protocol::Request& request);
    void onHello(std::uint64_t id, const protocol::Hello& hello);
    void onLockShown(Client& client, const Run& run);
    void onRunReleased(Client& client, const Run& run);
    void onPolicyUpdate(std::uint64_t id, const protocol::PolicyUpdate& update);
    void lockProgram(std::uint64_t id, uid_t uid, const protocol::PolicyUpdate& update);
    void lowerPolicy(std::uint64_t id, uid_t uid, const protocol::PolicyUpdate& update);
    void judgeSettingsOf(std::uint64_t id, const protocol::Request& request);
    void reply(std::uint64_t id, protocol::MessageType request, protocol::Status status);
    void announce(uid_t uid, const Run& run, const std::string& path);
    void announceAll(std::uint64_t id);
    void freezeUncovered(uid_t uid);
    void letGo(uid_t uid, const Run& run);
    void release(uid_t uid, const Run& run);
    void releaseUser(uid_t uid);
    void savePolicy(uid_t uid);
    bool hasVaultine(uid_t uid) const;

    GuardOptions options;
    std::unique_ptr<Freezer> freezer;
    ProcessReaders readers = systemReaders();
    PolicyStore store;
    std::map<uid_t, Policy> policies;
    ExecWatcher watcher;
    Loaders loaders;
    UniqueFd policyRemovals;
    UniqueFd listener;
    std::map<std::uint64_t, Client> clients;
    std::uint64_t nextClient = 1;
    std::vector<HeldLaunch> held;
    std::vector<CoveredRun> covered;
    Clock::time_point nextCheck;  // of the Vaultines, while runs wait on a lock
    std::unique_ptr<Worker> worker = std::make_unique<Worker>();
    // Reads what users name or control: the programs to lock, what a peer was started with.
    // Threads of its own, so that the password never waits on a file, nor one read on another.
    std::unique_ptr<Worker> reader = std::make_unique<Worker>(kReadingThreads);
};

}  // namespace guard
