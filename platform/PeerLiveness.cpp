// The peer check: continue a stopped peer, kill a traced or hung one, count missed pings.
#include "platform/PeerLiveness.h"

#include <csignal>

namespace platform {

PeerLiveness::PeerLiveness(QString bundleIdentifier, Probes probes)
    : bundleIdentifier(std::move(bundleIdentifier)), probes(std::move(probes)) {}

pid_t PeerLiveness::peerProcess() const {
    const pid_t holder = probes.nameHolder(bundleIdentifier);
    if (holder <= 0 || !probes.runsBundle(holder, bundleIdentifier))
        return 0;
    return holder;
}

void PeerLiveness::start(Scheduler scheduler) {
    schedule = std::move(scheduler);
    if (probes.watchOwner)
        probes.watchOwner(bundleIdentifier, [this, token = std::weak_ptr<char>(alive)] {
            if (token.lock())
                probe();
        });
    check();
}

void PeerLiveness::check() {
    if (schedule)
        schedule(checkInterval, [this, token = std::weak_ptr<char>(alive)] {
            if (token.lock())
                check();
        });
    probe();
}

void PeerLiveness::probe() {
    const pid_t pid = peerProcess();
    if (pid != pingedProcess) {
        // Another process (or none) holds the name now: its record starts afresh, and a ping
        // still in flight to the one before no longer counts.
        pingedProcess = pid;
        missedPings = 0;
        pingPending = false;
        ++pingSerial;
    }
    if (pid == 0)
        return;
    const char state = probes.state(pid);
    if (state == 't') {
        // A tracer holds it; only its end frees the name for a relaunch.
        say(QStringLiteral("Killed traced %1").arg(bundleIdentifier));
        probes.sendSignal(pid, SIGKILL);
        return;
    }
    if (state == 'T') {
        say(QStringLiteral("Continued stopped %1").arg(bundleIdentifier));
        probes.sendSignal(pid, SIGCONT);
    }
    if (pingPending)
        return;
    pingPending = true;
    const unsigned serial = ++pingSerial;
    probes.ping(bundleIdentifier, pingTimeout,
                [this, pid, serial, token = std::weak_ptr<char>(alive)](bool answered) {
                    if (token.lock())
                        pingAnswered(pid, serial, answered);
                });
}

void PeerLiveness::pingAnswered(pid_t pid, unsigned serial, bool answered) {
    if (serial != pingSerial)
        return;
    pingPending = false;
    if (pid != pingedProcess)
        return;
    if (answered) {
        missedPings = 0;
        // An error reply also proves a live loop, but only a holder still in place is ready.
        if (pid != readyProcess && peerProcess() == pid) {
            readyProcess = pid;
            if (onPeerReady)
                onPeerReady();
        }
        return;
    }
    if (++missedPings < missedPingsBeforeKill)
        return;
    say(QStringLiteral("Killed unresponsive %1").arg(bundleIdentifier));
    missedPings = 0;
    probes.sendSignal(pid, SIGKILL);
}

void PeerLiveness::say(const QString& line) const {
    if (printLine)
        printLine(line);
}

}  // namespace platform
