// The socket side of the guard: clients, their requests, and who may ask what. Only a genuine
// Vaultine covers, releases or raises; lowering takes the password, checked on the worker thread.
#include <utility>

#include "guard/GuardServer.h"

namespace guard {

namespace {

using protocol::MessageType;
using protocol::Status;

constexpr std::size_t kMaxClients = 256;
// Requests a client sends while what it was started with is judged.
constexpr std::size_t kMaxWaitingRequests = 64;

Run runOf(std::uint32_t pid, std::uint64_t startTime) {
    return Run{pid, startTime};
}

Status refusalOf(PeerVerdict verdict) {
    switch (verdict) {
        case PeerVerdict::OtherDisplay:
            return Status::OtherDisplay;
        case PeerVerdict::Traced:
        case PeerVerdict::Dumpable:
            return Status::Traceable;
        default:
            return Status::NotGenuine;
    }
}

}  // namespace

void GuardServer::onAccept() {
    UniqueFd socket = acceptClient(listener.get());
    // A flood of connections costs a bounded number of descriptors.
    if (!socket || clients.size() >= kMaxClients)
        return;
    auto peer = identifyPeer(socket.get());
    if (!peer)
        return;
    clients.emplace(nextClient++, Client{std::move(socket), std::move(*peer), false});
}

void GuardServer::onClient(std::uint64_t id) {
    const auto found = clients.find(id);
    if (found == clients.end())
        return;
    const auto message = receiveMessage(found->second.socket.get());
    if (!message) {
        dropClient(id);
        return;
    }
    if (message->bytes.empty())
        return;
    // A message sent by another process holding the same socket is never the peer's.
    const auto request = protocol::decodeRequest(message->bytes);
    if (!request || message->sender != found->second.peer.pid) {
        reply(id, MessageType::Hello, Status::Refused);
        return;
    }
    handle(id, *request);
}

void GuardServer::dropClient(std::uint64_t id) {
    const auto found = clients.find(id);
    if (found == clients.end())
        return;
    const uid_t uid = found->second.peer.uid;
    clients.erase(found);
    if (!hasVaultine(uid))
        freezeUncovered(uid);
}

bool GuardServer::hasVaultine(uid_t uid) const {
    for (const auto& [id, client] : clients) {
        if (client.vaultine && client.peer.uid == uid)
            return true;
    }
    return false;
}

void GuardServer::handle(std::uint64_t id, const protocol::Request& request) {
    Client& client = clients.at(id);
    // The request variant's alternatives are in the order of their message types.
    const auto type = static_cast<MessageType>(request.index() + 1);
    PeerVerdict verdict = judgePeer(client.peer.pid, client.peer.uid, client.peer.startTime,
                                    options.trustedExecutable, readers);
    if (verdict == PeerVerdict::Genuine && !client.settings) {
        judgeSettingsOf(id, request);
        return;
    }
    verdict = verdict == PeerVerdict::Genuine ? *client.settings : verdict;
    // A Vaultine whose locks would be drawn where nobody sees them covers nothing, nor one that a
    // program of its user may be driving (traced, or open to a tracer).
    if (verdict != PeerVerdict::Genuine) {
        reply(id, type, refusalOf(verdict));
        return;
    }
    if (const auto* hello = std::get_if<protocol::Hello>(&request)) {
        onHello(id, *hello);
    } else if (const auto* shown = std::get_if<protocol::LockShown>(&request)) {
        onLockShown(client, runOf(shown->pid, shown->startTime));
        reply(id, type, Status::Ok);
    } else if (const auto* released = std::get_if<protocol::RunReleased>(&request)) {
        onRunReleased(client, runOf(released->pid, released->startTime));
        reply(id, type, Status::Ok);
    } else {
        onPolicyUpdate(id, std::get<protocol::PolicyUpdate>(request));
    }
}

// What the peer was started with is its memory, read on the reading worker; the requests that
// came meanwhile are handled in order once it is judged.
void GuardServer::judgeSettingsOf(std::uint64_t id, const protocol::Request& request) {
    Client& client = clients.at(id);
    if (client.waiting.size() >= kMaxWaitingRequests) {
        reply(id, static_cast<MessageType>(request.index() + 1), Status::Refused);
        return;
    }
    client.waiting.push_back(request);
    if (client.judgingSettings)
        return;
    auto verdict = std::make_shared<PeerVerdict>(PeerVerdict::ProcessGone);
    client.judgingSettings = reader->submit(
        [verdict, peer = client.peer.pid, uid = client.peer.uid, startTime = client.peer.startTime,
         readers = readers] { *verdict = judgeSettings(peer, uid, startTime, readers); },
        [this, id, verdict] {
            const auto found = clients.find(id);
            if (found == clients.end())
                return;
            found->second.settings = *verdict;
            found->second.judgingSettings = false;
            std::deque<protocol::Request> waiting;
            waiting.swap(found->second.waiting);
            for (const protocol::Request& next : waiting) {
                if (clients.contains(id))
                    handle(id, next);
            }
        });
    if (client.judgingSettings)
        return;
    for (const protocol::Request& refused : std::exchange(client.waiting, {}))
        reply(id, static_cast<MessageType>(refused.index() + 1), Status::Refused);
}

void GuardServer::onHello(std::uint64_t id, const protocol::Hello& hello) {
    Client& client = clients.at(id);
    client.vaultine = true;
    const uid_t uid = client.peer.uid;
    announceAll(id);
    const auto found = policies.find(uid);
    const std::string verifier = found == policies.end() ? std::string() : found->second.verifier;
    if (hello.password.empty()) {
        reply(id, MessageType::Hello, verifier.empty() ? Status::NoPolicy : Status::WrongPassword);
        return;
    }
    // The first genuine Vaultine with a password enrols it; later ones have it checked.
    auto result = std::make_shared<std::string>();
    auto verified = std::make_shared<bool>(false);
    const bool queued = worker->submit(
        [verifier, password = hello.password, result, verified] {
            if (verifier.empty())
                *result = makeVerifier(password);
            else
                *verified = verifyPassword(verifier, password);
        },
        [this, id, uid, result, verified] {
            Policy& policy = policies[uid];
            if (!result->empty() && policy.verifier.empty()) {
                policy.verifier = *result;
                savePolicy(uid);
                *verified = true;
            }
            reply(id, MessageType::Hello, *verified ? Status::Ok : Status::WrongPassword);
        });
    if (!queued)
        reply(id, MessageType::Hello, Status::Refused);
}

void GuardServer::onLockShown(Client& client, const Run& run) {
    letGo(client.peer.uid, run);
}

void GuardServer::onRunReleased(Client& client, const Run& run) {
    const uid_t uid = client.peer.uid;
    if (realUidOf(static_cast<pid_t>(run.pid), readers) != uid ||
        startTimeOf(static_cast<pid_t>(run.pid), readers) != run.startTime)
        return;
    Policy& policy = policies[uid];
    if (!policy.isReleased(run) && policy.releasedRuns.size() < kMaxReleasedRuns) {
        policy.releasedRuns.push_back(run);
        savePolicy(uid);
    }
    release(uid, run);
}

void GuardServer::onPolicyUpdate(std::uint64_t id, const protocol::PolicyUpdate& update) {
    const uid_t uid = clients.at(id).peer.uid;
    if (!protocol::raisesProtection(update.change)) {
        lowerPolicy(id, uid, update);
        return;
    }
    if (update.change == protocol::PolicyChange::LockProgram) {
        lockProgram(id, uid, update);
        return;
    }
    const Status status = applyPolicyUpdate(policies[uid], update, false, nullptr);
    if (status == Status::Ok)
        savePolicy(uid);
    reply(id, MessageType::PolicyUpdate, status);
}

// The path is the user's: whatever it leads to is read on the identifying worker, while the loop
// goes on answering executions, and the client is answered once it is known.
void GuardServer::lockProgram(std::uint64_t id, uid_t uid, const protocol::PolicyUpdate& update) {
    auto program = std::make_shared<std::optional<LockedProgram>>();
    const bool queued = reader->submit(
        [program, path = update.path, quietMounts = watcher.quietMounts()] {
            *program = identifyProgram(path, quietMounts);
        },
        [this, id, uid, update, program] {
            const Status status = applyPolicyUpdate(
                policies[uid], update, false, [program](const std::string&) { return *program; });
            if (status == Status::Ok)
                savePolicy(uid);
            reply(id, MessageType::PolicyUpdate, status);
        });
    if (!queued)
        reply(id, MessageType::PolicyUpdate, Status::Refused);
}

void GuardServer::lowerPolicy(std::uint64_t id, uid_t uid, const protocol::PolicyUpdate& update) {
    const Policy before = policies[uid];
    auto after = std::make_shared<Policy>(before);
    auto status = std::make_shared<Status>(Status::Refused);
    const bool queued = worker->submit(
        [after, status, update] {
            const bool verified = verifyPassword(after->verifier, update.password);
            *status = applyPolicyUpdate(*after, update, verified, nullptr);
        },
        [this, id, uid, before, after, status] {
            // A policy changed meanwhile is not overwritten with an older copy.
            if (*status == Status::Ok && policies[uid] != before)
                *status = Status::Refused;
            if (*status == Status::Ok) {
                policies[uid] = *after;
                savePolicy(uid);
            }
            reply(id, MessageType::PolicyUpdate, *status);
        });
    if (!queued)
        reply(id, MessageType::PolicyUpdate, Status::Refused);
}

void GuardServer::savePolicy(uid_t uid) {
    store.save(uid, policies[uid]);
    // What is locked changed: every file is judged again.
    resetMarks();
    if (!policies[uid].protects())
        releaseUser(uid);
}

// Protection switched off or the policy forgotten: nothing of this user is held or frozen any
// longer.
void GuardServer::releaseUser(uid_t uid) {
    std::vector<Run> runs;
    for (const HeldLaunch& launch : held) {
        if (launch.uid == uid)
            runs.push_back(launch.run);
    }
    for (const Run& run : runs)
        letGo(uid, run);
    for (CoveredRun& run : covered) {
        if (run.uid == uid)
            thawRun(run);
    }
    std::erase_if(covered, [uid](const CoveredRun& run) { return run.uid == uid; });
}

// A policy file removed by hand or by `vaultine-guard --forget` is dropped by the running guard
// too; one that is still there (the guard's own atomic replace) is kept.
void GuardServer::onPolicyRemovals() {
    for (const uid_t uid : PolicyStore::readRemovals(policyRemovals.get())) {
        if (!policies.contains(uid) || store.load(uid))
            continue;
        policies.erase(uid);
        resetMarks();
        releaseUser(uid);
    }
}

void GuardServer::reply(std::uint64_t id, MessageType request, Status status) {
    const auto found = clients.find(id);
    if (found != clients.end())
        sendMessage(found->second.socket.get(), protocol::encode(protocol::Reply{request, status}));
}

void GuardServer::announce(uid_t uid, const Run& run, const std::string& path) {
    const auto bytes = protocol::encode(protocol::LaunchHeld{run.pid, run.startTime, path});
    for (const auto& [id, client] : clients) {
        if (client.vaultine && client.peer.uid == uid)
            sendMessage(client.socket.get(), bytes);
    }
}

// A Vaultine that says hello learns of every run of its user that waits for its lock: held,
// frozen, or found running at start. Only live ones: a run that ended while frozen would have the
// new Vaultine lock a process that is gone.
void GuardServer::announceAll(std::uint64_t id) {
    const Client& client = clients.at(id);
    forgetEnded();
    for (HeldLaunch& launch : held) {
        if (!isAlive(launch.run))
            watcher.answer(launch.event, false);
    }
    std::erase_if(held, [](const HeldLaunch& launch) { return !launch.event.file; });
    for (const HeldLaunch& launch : held) {
        if (launch.uid == client.peer.uid)
            sendMessage(client.socket.get(),
                        protocol::encode(protocol::LaunchHeld{launch.run.pid, launch.run.startTime,
                                                              launch.path}));
    }
    for (const CoveredRun& run : covered) {
        if (run.uid == client.peer.uid && (run.frozen || !run.ranUnderLock))
            sendMessage(client.socket.get(), protocol::encode(protocol::LaunchHeld{
                                                 run.run.pid, run.run.startTime, run.path}));
    }
}

}  // namespace guard
