// Socket calls of the guard, all non-blocking.
#include "guard/GuardSocket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>

#include "guard/GuardProtocol.h"
#include "guard/PeerIdentity.h"

#ifndef SO_PEERPIDFD
#define SO_PEERPIDFD 77
#endif

namespace guard {

namespace {

UniqueFd pidfdOf(pid_t pid) {
    return UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
}

// The pid a pidfd refers to, from its fdinfo: the pid SO_PEERPIDFD names is the peer's for sure.
std::optional<pid_t> pidOfPidfd(int pidfd) {
    const auto info = systemReaders().procFile(::getpid(), "fdinfo/" + std::to_string(pidfd));
    const auto field = info ? statusField(*info, "Pid") : std::nullopt;
    if (!field)
        return std::nullopt;
    const long pid = std::strtol(field->c_str(), nullptr, 10);
    return pid > 0 ? std::optional(static_cast<pid_t>(pid)) : std::nullopt;
}

}  // namespace

UniqueFd listenAt(const std::string& runtimeDirectory) {
    if (::mkdir(runtimeDirectory.c_str(), 0755) != 0 && errno != EEXIST)
        return {};
    ::chmod(runtimeDirectory.c_str(), 0755);
    const std::string path = runtimeDirectory + "/socket";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return {};
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    UniqueFd listener(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const int on = 1;
    ::unlink(path.c_str());
    if (!listener || ::setsockopt(listener.get(), SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0 ||
        ::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::chmod(path.c_str(), 0666) != 0 || ::listen(listener.get(), 16) != 0)
        return {};
    return listener;
}

UniqueFd acceptClient(int listener) {
    UniqueFd client(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    const int on = 1;
    if (client)
        ::setsockopt(client.get(), SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
    return client;
}

std::optional<Peer> identifyPeer(int client, bool usePeerPidfd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(client, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
        credentials.pid <= 0)
        return std::nullopt;
    Peer peer{credentials.pid, credentials.uid, 0, UniqueFd()};
    int pidfd = -1;
    length = sizeof pidfd;
    if (usePeerPidfd && ::getsockopt(client, SOL_SOCKET, SO_PEERPIDFD, &pidfd, &length) == 0) {
        peer.pidfd.reset(pidfd);
        if (pidOfPidfd(pidfd) != peer.pid)
            return std::nullopt;
    } else {
        peer.pidfd = pidfdOf(peer.pid);
    }
    const auto start = startTimeOf(peer.pid, systemReaders());
    if (!peer.pidfd || !start)
        return std::nullopt;
    peer.startTime = *start;
    return peer;
}

std::optional<ReceivedMessage> receiveMessage(int client) {
    ReceivedMessage message;
    message.bytes.resize(protocol::kMaxMessage + 1);
    iovec vector{message.bytes.data(), message.bytes.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    msghdr header{};
    header.msg_iov = &vector;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    const ssize_t length = ::recvmsg(client, &header, MSG_CMSG_CLOEXEC);
    if (length < 0 && (errno == EAGAIN || errno == EINTR))
        return ReceivedMessage{};
    if (length <= 0 || (header.msg_flags & MSG_TRUNC) ||
        static_cast<std::size_t>(length) > protocol::kMaxMessage)
        return std::nullopt;
    message.bytes.resize(static_cast<std::size_t>(length));
    for (cmsghdr* part = CMSG_FIRSTHDR(&header); part; part = CMSG_NXTHDR(&header, part)) {
        if (part->cmsg_level == SOL_SOCKET && part->cmsg_type == SCM_CREDENTIALS &&
            part->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
            ucred sender{};
            std::memcpy(&sender, CMSG_DATA(part), sizeof sender);
            message.sender = sender.pid;
        } else if (part->cmsg_level == SOL_SOCKET && part->cmsg_type == SCM_RIGHTS) {
            // Descriptors a client passes are never used: closed at once.
            const std::size_t count = (part->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (std::size_t i = 0; i < count; ++i) {
                int fd = -1;
                std::memcpy(&fd, CMSG_DATA(part) + i * sizeof(int), sizeof fd);
                ::close(fd);
            }
        }
    }
    return message;
}

bool sendMessage(int client, const std::vector<std::uint8_t>& bytes) {
    return !bytes.empty() &&
           ::send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT) ==
               static_cast<ssize_t>(bytes.size());
}

}  // namespace guard
