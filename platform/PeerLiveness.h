// Whether the other program of the pair is alive, not merely present. Vaultine and Corvane each
// watch the other through the bus name it holds: a stopped peer is continued at once, a traced one
// (which a continue cannot free) and one that answers no ping for a while are killed, so that the
// watcher's relaunch brings a working peer back. A name held by anything but the peer's own
// bundle executable does not count as the peer. The first answer of a new peer process tells
// that it is ready, which the relaunch throttle uses to tell a kill from a failed start.
#pragma once

#include <sys/types.h>

#include <QString>
#include <chrono>
#include <functional>
#include <memory>

namespace platform {

class PeerLiveness {
  public:
    using Scheduler = std::function<void(std::chrono::milliseconds, std::function<void()>)>;
    using PingReply = std::function<void(bool answered)>;

    // As slow as the process watcher's sweep, so that an idle pair wakes no more often.
    static constexpr std::chrono::milliseconds checkInterval{5000};
    static constexpr std::chrono::milliseconds pingTimeout{5000};
    // Pings missed in a row before the peer counts as hung: long enough for a peer that waits on
    // a keyring prompt or starts slowly under a debugger's tools, short enough to matter.
    static constexpr int missedPingsBeforeKill = 3;

    // How the system is asked; replaced by tests.
    struct Probes {
        // The process holding the bus name, or 0.
        std::function<pid_t(const QString& busName)> nameHolder;
        // Whether the process runs the executable of a bundle with this identifier.
        std::function<bool(pid_t, const QString& bundleIdentifier)> runsBundle;
        // The process's state letter from /proc (R, S, T, t, …), or 0 when it is gone.
        std::function<char(pid_t)> state;
        std::function<void(pid_t, int signal)> sendSignal;
        // Calls the peer's ping method; the reply says whether it answered in time.
        std::function<void(const QString& busName, std::chrono::milliseconds timeout, PingReply)>
            ping;
        // Calls `changed` whenever the name's holder changes; optional.
        std::function<void(const QString& busName, std::function<void()> changed)> watchOwner;
    };
    static Probes systemProbes();

    // Answers the other program's pings from this process's main loop, so that a reply proves
    // the loop runs. Call once, after the bus name is claimed.
    static void answerPings();

    // `bundleIdentifier` is the peer's, which is also its bus name.
    explicit PeerLiveness(QString bundleIdentifier, Probes probes = systemProbes());

    // The process holding the peer's name when it is the peer's own executable, else 0.
    pid_t peerProcess() const;
    bool peerHoldsItsName() const { return peerProcess() != 0; }

    // Checks now, then every `checkInterval` and whenever the name changes hands.
    void start(Scheduler schedule);
    void check();

    std::function<void(const QString& line)> printLine;
    // A new peer process holds its name and answered its first ping.
    std::function<void()> onPeerReady;

  private:
    void probe();
    void pingAnswered(pid_t pid, unsigned serial, bool answered);
    void say(const QString& line) const;

    QString bundleIdentifier;
    Probes probes;
    Scheduler schedule;
    bool pingPending = false;
    int missedPings = 0;
    pid_t pingedProcess = 0;
    pid_t readyProcess = 0;
    unsigned pingSerial = 0;
    // Scheduled checks and ping replies may arrive after this object is gone; they hold this
    // token weakly and do nothing then.
    std::shared_ptr<char> alive = std::make_shared<char>();
};

}  // namespace platform
