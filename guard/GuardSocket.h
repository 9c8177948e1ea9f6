// The guard's listening socket <runtime-dir>/socket (SOCK_SEQPACKET, anyone may connect) and its
// clients: who is on the other end (SO_PEERCRED, a pidfd, the start time), and each message with
// the sender's credentials as the kernel attaches them.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "guard/UniqueFd.h"

namespace guard {

struct Peer {
    pid_t pid = 0;
    uid_t uid = 0;
    std::uint64_t startTime = 0;
    UniqueFd pidfd;  // keeps the peer's pid from being taken for another process's
};

struct ReceivedMessage {
    std::vector<std::uint8_t> bytes;
    std::optional<pid_t> sender;  // the pid the kernel attached, when it did
};

// Makes the runtime folder (0755) and binds the socket (0666); an empty descriptor on failure.
UniqueFd listenAt(const std::string& runtimeDirectory);
UniqueFd acceptClient(int listener);

// The connecting process: SO_PEERPIDFD where the kernel has it, else a pidfd opened for the
// SO_PEERCRED pid; none when it is gone or its start time cannot be read.
std::optional<Peer> identifyPeer(int client, bool usePeerPidfd = true);

// None when the peer hung up or sent more than a message may hold; an empty message when there
// was nothing to read.
std::optional<ReceivedMessage> receiveMessage(int client);
bool sendMessage(int client, const std::vector<std::uint8_t>& bytes);

}  // namespace guard
