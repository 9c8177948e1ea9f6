// The messages between Vaultine and the system guard over the guard's SOCK_SEQPACKET socket: plain
// structs with bounded fields, encoded little-endian; a decoder that trusts no length it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace guard::protocol {

inline constexpr std::uint8_t kVersion = 1;
inline constexpr std::size_t kMaxPassword = 1024;
inline constexpr std::size_t kMaxPath = 4096;
// Every message fits in this many bytes; the guard reads no more of one.
inline constexpr std::size_t kMaxMessage = 2 + 1 + 2 * (2 + kMaxPassword) + 4 + 2 + kMaxPath + 16;

// Protection switches a policy keeps: on raises protection, off lowers it.
enum Switch : std::uint32_t {
    kProtection = 1u << 0,
    kAdministrativeLock = 1u << 1,
    kAllSwitches = kProtection | kAdministrativeLock,
};

enum class MessageType : std::uint8_t {
    Hello = 1,        // Vaultine's first words, with the password it holds (enrols it when new)
    LockShown = 2,    // Vaultine's lock covers this run
    RunReleased = 3,  // the password released this run
    PolicyUpdate = 4,
    Reply = 64,
    LaunchHeld = 65,  // the guard holds the launch of a locked program
};

enum class PolicyChange : std::uint8_t {
    LockProgram = 1,    // raises
    SwitchOn = 2,       // raises
    UnlockProgram = 3,  // lowers: needs the current password
    SwitchOff = 4,      // lowers
    NewPassword = 5,    // lowers
};

inline bool raisesProtection(PolicyChange change) {
    return change == PolicyChange::LockProgram || change == PolicyChange::SwitchOn;
}

enum class Status : std::uint8_t {
    Ok = 0,
    NotGenuine = 1,     // the client is not the trusted Vaultine
    WrongPassword = 2,  // or no password enrolled yet for a change that lowers protection
    NoPolicy = 3,       // nothing enrolled for this user
    Refused = 4,        // malformed, unknown program, or a limit reached
    OtherDisplay = 5,   // the trusted Vaultine, drawing on a display other than its session's
    Traceable = 6,      // the trusted Vaultine, but traced or open to a tracer of its user
};

struct Hello {
    std::string password;
};
struct LockShown {
    std::uint32_t pid = 0;
    std::uint64_t startTime = 0;  // /proc/<pid>/stat field 22, in clock ticks since boot
};
struct RunReleased {
    std::uint32_t pid = 0;
    std::uint64_t startTime = 0;
};
struct PolicyUpdate {
    PolicyChange change = PolicyChange::LockProgram;
    std::string password;  // the current password, for a change that lowers protection
    std::uint32_t switches = 0;
    std::string path;  // the program to lock or unlock
    std::string newPassword;
};
struct Reply {
    MessageType request = MessageType::Hello;
    Status status = Status::Ok;
};
struct LaunchHeld {
    std::uint32_t pid = 0;
    std::uint64_t startTime = 0;
    std::string path;
};

using Request = std::variant<Hello, LockShown, RunReleased, PolicyUpdate>;
using Event = std::variant<Reply, LaunchHeld>;
using Bytes = std::vector<std::uint8_t>;

namespace detail {

inline void putInteger(Bytes& out, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// False when the string is longer than its field allows.
inline bool putString(Bytes& out, std::string_view text, std::size_t limit) {
    if (text.size() > limit)
        return false;
    putInteger(out, text.size(), 2);
    out.insert(out.end(), text.begin(), text.end());
    return true;
}

class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes(bytes) {}
    std::optional<std::uint64_t> integer(int width) {
        if (bytes.size() - offset < static_cast<std::size_t>(width))
            return std::nullopt;
        std::uint64_t value = 0;
        for (int i = 0; i < width; ++i)
            value |= std::uint64_t{bytes[offset + i]} << (8 * i);
        offset += width;
        return value;
    }
    std::optional<std::string> string(std::size_t limit) {
        const auto length = integer(2);
        if (!length || *length > limit || bytes.size() - offset < *length)
            return std::nullopt;
        std::string text(reinterpret_cast<const char*>(bytes.data() + offset), *length);
        offset += *length;
        return text;
    }
    bool atEnd() const { return offset == bytes.size(); }

  private:
    std::span<const std::uint8_t> bytes;
    std::size_t offset = 0;
};

inline Bytes header(MessageType type) {
    return Bytes{kVersion, static_cast<std::uint8_t>(type)};
}

inline bool validRun(std::uint64_t pid, std::uint64_t startTime) {
    return pid > 0 && pid <= 0x3fffffff && startTime > 0;
}

}  // namespace detail

// Each encoder returns no bytes when a field is out of its bounds.
inline Bytes encode(const Hello& hello) {
    Bytes out = detail::header(MessageType::Hello);
    return detail::putString(out, hello.password, kMaxPassword) ? out : Bytes{};
}

inline Bytes encodeRun(MessageType type, std::uint32_t pid, std::uint64_t startTime) {
    if (!detail::validRun(pid, startTime))
        return {};
    Bytes out = detail::header(type);
    detail::putInteger(out, pid, 4);
    detail::putInteger(out, startTime, 8);
    return out;
}
inline Bytes encode(const LockShown& shown) {
    return encodeRun(MessageType::LockShown, shown.pid, shown.startTime);
}
inline Bytes encode(const RunReleased& released) {
    return encodeRun(MessageType::RunReleased, released.pid, released.startTime);
}

inline Bytes encode(const PolicyUpdate& update) {
    Bytes out = detail::header(MessageType::PolicyUpdate);
    out.push_back(static_cast<std::uint8_t>(update.change));
    detail::putInteger(out, update.switches, 4);
    const bool fits = detail::putString(out, update.password, kMaxPassword) &&
                      detail::putString(out, update.path, kMaxPath) &&
                      detail::putString(out, update.newPassword, kMaxPassword);
    return fits ? out : Bytes{};
}

inline Bytes encode(const Reply& reply) {
    Bytes out = detail::header(MessageType::Reply);
    out.push_back(static_cast<std::uint8_t>(reply.request));
    out.push_back(static_cast<std::uint8_t>(reply.status));
    return out;
}

inline Bytes encode(const LaunchHeld& held) {
    Bytes out = encodeRun(MessageType::LaunchHeld, held.pid, held.startTime);
    return !out.empty() && detail::putString(out, held.path, kMaxPath) ? out : Bytes{};
}

inline Bytes encode(const Request& request) {
    return std::visit([](const auto& message) { return encode(message); }, request);
}
inline Bytes encode(const Event& event) {
    return std::visit([](const auto& message) { return encode(message); }, event);
}

namespace detail {

template <typename Run>
std::optional<Run> decodeRun(Reader& reader) {
    const auto pid = reader.integer(4);
    const auto startTime = reader.integer(8);
    if (!pid || !startTime || !validRun(*pid, *startTime))
        return std::nullopt;
    return Run{static_cast<std::uint32_t>(*pid), *startTime};
}

inline std::optional<PolicyUpdate> decodePolicyUpdate(Reader& reader) {
    const auto change = reader.integer(1);
    const auto switches = reader.integer(4);
    if (!change || *change < 1 || *change > 5 || !switches || (*switches & ~kAllSwitches))
        return std::nullopt;
    auto password = reader.string(kMaxPassword);
    auto path = reader.string(kMaxPath);
    auto newPassword = reader.string(kMaxPassword);
    if (!password || !path || !newPassword)
        return std::nullopt;
    return PolicyUpdate{static_cast<PolicyChange>(*change), std::move(*password),
                        static_cast<std::uint32_t>(*switches), std::move(*path),
                        std::move(*newPassword)};
}

inline std::optional<Request> decodeRequestBody(MessageType type, Reader& reader) {
    switch (type) {
        case MessageType::Hello:
            if (auto password = reader.string(kMaxPassword))
                return Hello{std::move(*password)};
            return std::nullopt;
        case MessageType::LockShown:
            return decodeRun<LockShown>(reader);
        case MessageType::RunReleased:
            return decodeRun<RunReleased>(reader);
        case MessageType::PolicyUpdate:
            return decodePolicyUpdate(reader);
        default:
            return std::nullopt;
    }
}

inline std::optional<Reply> decodeReply(Reader& reader) {
    const auto request = reader.integer(1);
    const auto status = reader.integer(1);
    if (!request || *request < 1 || *request > 4 || !status || *status > 6)
        return std::nullopt;
    return Reply{static_cast<MessageType>(*request), static_cast<Status>(*status)};
}

inline std::optional<Event> decodeEventBody(MessageType type, Reader& reader) {
    if (type == MessageType::Reply)
        return decodeReply(reader);
    if (type != MessageType::LaunchHeld)
        return std::nullopt;
    auto held = decodeRun<LaunchHeld>(reader);
    auto path = reader.string(kMaxPath);
    if (!held || !path)
        return std::nullopt;
    held->path = std::move(*path);
    return held;
}

// Reads the version and type, then the body; the body must use every byte.
template <typename Message, typename Body>
std::optional<Message> decodeWith(std::span<const std::uint8_t> bytes, Body body) {
    if (bytes.size() < 2 || bytes.size() > kMaxMessage || bytes[0] != kVersion)
        return std::nullopt;
    Reader reader(bytes.subspan(2));
    auto message = body(static_cast<MessageType>(bytes[1]), reader);
    if (!message || !reader.atEnd())
        return std::nullopt;
    return message;
}

}  // namespace detail

inline std::optional<Request> decodeRequest(std::span<const std::uint8_t> bytes) {
    return detail::decodeWith<Request>(bytes, [](MessageType type, detail::Reader& reader) {
        return detail::decodeRequestBody(type, reader);
    });
}

inline std::optional<Event> decodeEvent(std::span<const std::uint8_t> bytes) {
    return detail::decodeWith<Event>(bytes, [](MessageType type, detail::Reader& reader) {
        return detail::decodeEventBody(type, reader);
    });
}

}  // namespace guard::protocol
