// The guard's socket: connect, small messages out, replies and held launches in.
#include "platform/linux/GuardClient.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <QFile>
#include <QtGlobal>
#include <array>
#include <cstring>

namespace platform {

namespace {

namespace protocol = guard::protocol;

constexpr int retryIntervalMs = 5000;

Guard::Answer answerOf(protocol::Status status) {
    switch (status) {
        case protocol::Status::Ok:
            return Guard::Answer::ok;
        case protocol::Status::NotGenuine:
            return Guard::Answer::notGenuine;
        case protocol::Status::OtherDisplay:
            return Guard::Answer::otherDisplay;
        case protocol::Status::Traceable:
            return Guard::Answer::traceable;
        case protocol::Status::WrongPassword:
            return Guard::Answer::wrongPassword;
        case protocol::Status::NoPolicy:
            return Guard::Answer::noPolicy;
        case protocol::Status::Refused:
            break;
    }
    return Guard::Answer::refused;
}

protocol::MessageType typeOf(const protocol::Request& request) {
    // The request variant's alternatives are in the order of their message types.
    return static_cast<protocol::MessageType>(request.index() + 1);
}

protocol::PolicyChange changeOf(Guard::Change change) {
    switch (change) {
        case Guard::Change::lockProgram:
            return protocol::PolicyChange::LockProgram;
        case Guard::Change::switchOn:
            return protocol::PolicyChange::SwitchOn;
        case Guard::Change::unlockProgram:
            return protocol::PolicyChange::UnlockProgram;
        case Guard::Change::switchOff:
            return protocol::PolicyChange::SwitchOff;
        case Guard::Change::newPassword:
            break;
    }
    return protocol::PolicyChange::NewPassword;
}

}  // namespace

GuardClient::GuardClient(QString socketPath) : socketPath(std::move(socketPath)) {
    retry.setInterval(retryIntervalMs);
    QObject::connect(&retry, &QTimer::timeout, this, [this] { tryConnect(); });
}

GuardClient::~GuardClient() = default;

QString GuardClient::defaultSocketPath() {
    const QString folder = qEnvironmentVariable("VAULTINE_GUARD_RUNTIME_DIR");
    return (folder.isEmpty() ? QStringLiteral("/run/vaultine-guard") : folder) +
           QStringLiteral("/socket");
}

void GuardClient::start() {
    tryConnect();
}

void GuardClient::tryConnect() {
    if (socket)
        return;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(socketPath);
    if (path.size() >= static_cast<int>(sizeof address.sun_path))
        return;
    std::memcpy(address.sun_path, path.constData(), path.size());
    UniqueFd candidate(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!candidate ||
        ::connect(candidate.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        // No guard (yet): look again now and then, so that one installed or restarted later is
        // used without restarting Vaultine.
        if (!retry.isActive())
            retry.start();
        return;
    }
    retry.stop();
    socket = std::move(candidate);
    notifier = std::make_unique<QSocketNotifier>(socket.get(), QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, this, [this] { readMessages(); });
    if (onConnected)
        onConnected();
}

void GuardClient::disconnect() {
    notifier.reset();
    socket.reset();
    waiting = false;
    enrolled = false;
    std::deque<Pending> unanswered;
    unanswered.swap(queue);
    for (Pending& pending : unanswered) {
        if (pending.done)
            pending.done(Answer::unavailable);
    }
    if (onDisconnected)
        onDisconnected();
    if (!retry.isActive())
        retry.start();
}

void GuardClient::readMessages() {
    std::array<std::uint8_t, protocol::kMaxMessage + 1> buffer;
    while (socket) {
        const ssize_t length = ::recv(socket.get(), buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (length < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (length <= 0) {
            disconnect();
            return;
        }
        if (const auto event = protocol::decodeEvent(
                std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(length))))
            handleEvent(*event);
    }
}

void GuardClient::handleEvent(const protocol::Event& event) {
    if (const auto* held = std::get_if<protocol::LaunchHeld>(&event)) {
        if (onLaunchHeld)
            onLaunchHeld(static_cast<pid_t>(held->pid), held->startTime,
                         QFile::decodeName(QByteArray::fromStdString(held->path)));
        return;
    }
    const auto& reply = std::get<protocol::Reply>(event);
    // Covers and releases are told, not asked: their answers carry nothing to wait for.
    if (!waiting || queue.empty() || typeOf(queue.front().request) != reply.request)
        return;
    Pending answered = std::move(queue.front());
    queue.pop_front();
    waiting = false;
    if (reply.request == protocol::MessageType::Hello && reply.status != protocol::Status::Refused)
        enrolled =
            reply.status == protocol::Status::Ok || reply.status == protocol::Status::WrongPassword;
    sendNext();
    if (answered.done)
        answered.done(answerOf(reply.status));
}

void GuardClient::enqueue(protocol::Request request, AnswerHandler done) {
    if (!socket) {
        // Answered on the next turn, as a reply would be.
        QTimer::singleShot(0, this, [done = std::move(done)] {
            if (done)
                done(Answer::unavailable);
        });
        return;
    }
    queue.push_back({std::move(request), std::move(done)});
    sendNext();
}

void GuardClient::sendNext() {
    while (!waiting && !queue.empty()) {
        if (send(protocol::encode(queue.front().request))) {
            waiting = true;
            return;
        }
        // Out of the protocol's bounds (an overlong password or path): refused here.
        Pending refused = std::move(queue.front());
        queue.pop_front();
        if (refused.done)
            refused.done(Answer::refused);
    }
}

bool GuardClient::send(const protocol::Bytes& bytes) {
    if (!socket || bytes.empty())
        return false;
    return ::send(socket.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

void GuardClient::hello(const QString& password, AnswerHandler done) {
    enqueue(protocol::Hello{password.toStdString()}, std::move(done));
}

void GuardClient::lockShown(pid_t pid, unsigned long long startTime) {
    send(protocol::encode(protocol::LockShown{static_cast<std::uint32_t>(pid), startTime}));
}

void GuardClient::runReleased(pid_t pid, unsigned long long startTime) {
    send(protocol::encode(protocol::RunReleased{static_cast<std::uint32_t>(pid), startTime}));
}

void GuardClient::changePolicy(const PolicyChange& change, AnswerHandler done) {
    protocol::PolicyUpdate update;
    update.change = changeOf(change.change);
    update.password = change.password.toStdString();
    update.switches = change.switches & protocol::kAllSwitches;
    update.path = QFile::encodeName(change.program).toStdString();
    update.newPassword = change.newPassword.toStdString();
    enqueue(std::move(update), std::move(done));
}

std::unique_ptr<Guard> Guard::createDefault() {
    return std::make_unique<GuardClient>(GuardClient::defaultSocketPath());
}

}  // namespace platform
