// Resolves display names as libxcb does (xcb_parse_display, then a unix socket for an empty or
// "unix" host, TCP otherwise) and asks the kernel who listens on a display's socket.
#include "platform/linux/DisplaySession.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/linux/ProcReader.h"
#include "platform/linux/UniqueFd.h"

namespace platform::session {

namespace {

constexpr const char* socketFolder = "/tmp/.X11-unix/X";
// Longer parent chains than this are not real.
constexpr int maximumAncestry = 256;

// A decimal number as strtoul reads it (leading blanks and a sign included, as libxcb accepts
// them), that fits an int; `rest` gets what follows it.
std::optional<int> parseDisplayNumber(const QByteArray& text, QByteArray& rest) {
    const std::string digits = text.toStdString();
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(digits.c_str(), &end, 10);
    if (end == digits.c_str() || errno != 0 || value > INT_MAX)
        return std::nullopt;
    rest = text.mid(end - digits.c_str());
    return static_cast<int>(value);
}

// "<number>[.<screen>]" after the colon.
std::optional<int> parseNumberAndScreen(const QByteArray& text) {
    QByteArray rest;
    const std::optional<int> number = parseDisplayNumber(text, rest);
    if (!number || rest.isEmpty())
        return number;
    QByteArray afterScreen;
    if (!rest.startsWith('.') || !parseDisplayNumber(rest.mid(1), afterScreen) ||
        !afterScreen.isEmpty())
        return std::nullopt;
    return number;
}

// A socket path ends in ".<screen>" only when the screen starts with 1-9, as libxcb reads it.
QByteArray withoutScreen(const QByteArray& path) {
    const qsizetype dot = path.lastIndexOf('.');
    if (dot < 0 || dot + 1 >= path.size() || path[dot + 1] < '1' || path[dot + 1] > '9')
        return path;
    for (qsizetype i = dot + 1; i < path.size(); ++i) {
        if (path[i] < '0' || path[i] > '9')
            return path;
    }
    return path.left(dot);
}

std::optional<int> localNumberOfSocket(const QByteArray& path) {
    if (!path.startsWith(socketFolder))
        return std::nullopt;
    QByteArray rest;
    const QByteArray digits = path.mid(std::strlen(socketFolder));
    // Only plain digits: "/tmp/.X11-unix/X+1" is a file of another name.
    if (digits.isEmpty() || digits.front() < '0' || digits.front() > '9')
        return std::nullopt;
    const std::optional<int> number = parseDisplayNumber(digits, rest);
    return number && rest.isEmpty() ? number : std::nullopt;
}

DisplayAddress localDisplay(int number) {
    return {DisplayAddress::Kind::local, number, {}, {}};
}

std::optional<DisplayAddress> resolveSocketPath(const QByteArray& name) {
    for (const QByteArray& path : {name, withoutScreen(name)}) {
        if (const std::optional<int> number = localNumberOfSocket(path))
            return localDisplay(*number);
    }
    return DisplayAddress{DisplayAddress::Kind::socket, 0, name, {}};
}

QByteArray numericAddress(const QByteArray& host) {
    char text[INET6_ADDRSTRLEN] = {};
    in_addr v4{};
    in6_addr v6{};
    if (::inet_aton(host.constData(), &v4))
        return ::inet_ntop(AF_INET, &v4, text, sizeof text);
    if (::inet_pton(AF_INET6, host.constData(), &v6) == 1)
        return ::inet_ntop(AF_INET6, &v6, text, sizeof text);
    return {};
}

bool isLoopbackOrUnspecified(const QByteArray& host) {
    in_addr v4{};
    in6_addr v6{};
    if (::inet_aton(host.constData(), &v4)) {
        const std::uint32_t address = ntohl(v4.s_addr);
        return address >> 24 == 127 || address == 0;
    }
    if (::inet_pton(AF_INET6, host.constData(), &v6) != 1)
        return false;
    if (IN6_IS_ADDR_LOOPBACK(&v6) || IN6_IS_ADDR_UNSPECIFIED(&v6))
        return true;
    return IN6_IS_ADDR_V4MAPPED(&v6) &&
           (v6.s6_addr[12] == 127 || (v6.s6_addr[12] == 0 && v6.s6_addr[13] == 0 &&
                                      v6.s6_addr[14] == 0 && v6.s6_addr[15] == 0));
}

// The names /etc/hosts gives to loopback addresses ("ip6-localhost", Debian's 127.0.1.1 host).
QList<QByteArray> loopbackNamesOfHostsFile() {
    QList<QByteArray> names;
    QFile hosts(QStringLiteral("/etc/hosts"));
    if (!hosts.open(QIODevice::ReadOnly))
        return names;
    for (QByteArray line : hosts.read(1 << 20).split('\n')) {
        line = line.left(line.indexOf('#')).simplified();
        const QList<QByteArray> words = line.split(' ');
        if (words.size() < 2 || !isLoopbackOrUnspecified(words.front()))
            continue;
        names.append(words.mid(1));
    }
    return names;
}

std::optional<DisplayServer> serverListeningAt(const sockaddr_un& address, socklen_t length) {
    // Non-blocking: a listener with a full backlog must not stop the caller.
    const UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket ||
        ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0)
        return std::nullopt;
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(socket.get(), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return std::nullopt;
    DisplayServer server;
    server.pid = credentials.pid;
    server.owner = credentials.uid;
    return server;
}

std::optional<DisplayServer> serverAtPath(const QByteArray& path, bool abstract) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const qsizetype offset = abstract ? 1 : 0;
    if (path.isEmpty() || path.size() + offset >= qsizetype(sizeof address.sun_path))
        return std::nullopt;
    std::memcpy(address.sun_path + offset, path.constData(), path.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset +
                                               path.size() + (abstract ? 0 : 1));
    return serverListeningAt(address, length);
}

// Started by the user's own systemd instance (`systemd-run --user`, a bus-activated service):
// such a process has that instance's audit session, not the login's, and is still the user's.
bool startedByServiceManager(pid_t pid, uid_t owner) {
    for (int depth = 0; pid > 1 && depth < maximumAncestry; ++depth) {
        const std::optional<proc::ProcessStatus> status = proc::readStatus(pid);
        if (!status || status->owner != owner)
            return false;
        if (depth > 0 && QFileInfo(status->executable).fileName() == QLatin1String("systemd"))
            return true;
        pid = status->parent;
    }
    return false;
}

bool startedFromSession(const DisplayServer& server, const SessionMarks& ours, uid_t user) {
    if (server.owner != user)
        return false;
    return !ours.auditSession || !server.auditSession ||
           *server.auditSession == *ours.auditSession || server.startedByServiceManager;
}

}  // namespace

QList<QByteArray> localHostNames() {
    QList<QByteArray> names = loopbackNamesOfHostsFile();
    char host[HOST_NAME_MAX + 1] = {};
    if (::gethostname(host, sizeof host - 1) == 0 && host[0])
        names.append(host);
    ifaddrs* interfaces = nullptr;
    if (::getifaddrs(&interfaces) != 0)
        return names;
    for (const ifaddrs* entry = interfaces; entry; entry = entry->ifa_next) {
        char text[INET6_ADDRSTRLEN] = {};
        const sockaddr* address = entry->ifa_addr;
        if (address && address->sa_family == AF_INET &&
            ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                        sizeof text))
            names.append(text);
        else if (address && address->sa_family == AF_INET6 &&
                 ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr,
                             text, sizeof text))
            names.append(text);
    }
    ::freeifaddrs(interfaces);
    return names;
}

bool isLocalHost(const QByteArray& written, const QList<QByteArray>& localNames) {
    QByteArray host = written;
    if (host.startsWith('[') && host.endsWith(']'))
        host = host.mid(1, host.size() - 2);
    if (host.endsWith('.'))
        host.chop(1);
    host = host.toLower();
    if (host.isEmpty() || host.contains('\0'))
        return false;
    if (host == "localhost" || host.endsWith(".localhost") || isLoopbackOrUnspecified(host))
        return true;
    const QByteArray numeric = numericAddress(host);
    for (const QByteArray& name : localNames) {
        if (name.toLower() == host || (!numeric.isEmpty() && numericAddress(name) == numeric))
            return true;
    }
    return false;
}

std::optional<DisplayAddress> resolveDisplayName(const QByteArray& name,
                                                 const QList<QByteArray>& localNames) {
    if (name.isEmpty() || name.contains('\0'))
        return std::nullopt;
    if (name.startsWith('/'))
        return resolveSocketPath(name);
    const qsizetype slash = name.lastIndexOf('/');
    const QByteArray protocol = slash < 0 ? QByteArray() : name.left(slash);
    const QByteArray rest = name.mid(slash + 1);
    const qsizetype colon = rest.lastIndexOf(':');
    if (colon < 0)
        return std::nullopt;
    const QByteArray host = rest.left(colon);
    const std::optional<int> number = parseNumberAndScreen(rest.mid(colon + 1));
    if (!number)
        return std::nullopt;
    if (protocol == "unix")
        return localDisplay(*number);
    if (host.isEmpty() || host == "unix") {
        // libxcb opens no unix socket for another protocol, and no TCP without a host.
        return slash < 0 ? std::optional(localDisplay(*number)) : std::nullopt;
    }
    if (slash >= 0 && protocol != "tcp" && protocol != "inet" && protocol != "inet6")
        return std::nullopt;
    if (isLocalHost(host, localNames))
        return localDisplay(*number);
    return DisplayAddress{DisplayAddress::Kind::remote, *number, {}, host};
}

std::optional<DisplayServer> readDisplayServer(const DisplayAddress& address) {
    std::optional<DisplayServer> server;
    if (address.kind == DisplayAddress::Kind::local) {
        const QByteArray path = socketFolder + QByteArray::number(address.number);
        server = serverAtPath(path, true);
        if (!server)
            server = serverAtPath(path, false);
    } else if (address.kind == DisplayAddress::Kind::socket) {
        server = serverAtPath(address.path, false);
        if (!server && withoutScreen(address.path) != address.path)
            server = serverAtPath(withoutScreen(address.path), false);
    }
    if (server && server->pid > 0) {
        server->auditSession = proc::readAuditSession(server->pid);
        server->startedByServiceManager = startedByServiceManager(server->pid, server->owner);
    }
    return server;
}

SessionMarks readSessionMarks(pid_t pid, bool withServer) {
    SessionMarks marks;
    if (const std::optional<QByteArray> display = proc::readEnvironmentValue(pid, "DISPLAY")) {
        marks.display = resolveDisplayName(*display, {});
        // The machine's own names are looked up only for a network name that needs them.
        if (marks.display && marks.display->kind == DisplayAddress::Kind::remote)
            marks.display = resolveDisplayName(*display, localHostNames());
    }
    marks.auditSession = proc::readAuditSession(pid);
    if (withServer && marks.display)
        marks.server = readDisplayServer(*marks.display);
    return marks;
}

bool isSameSession(const SessionMarks& ours, const SessionMarks& theirs, uid_t user) {
    if (ours.display && theirs.display && *ours.display == *theirs.display)
        return true;
    if (!ours.display || !theirs.display || !theirs.server) {
        // The display tells nothing: only the kernel can tell another login apart.
        return !ours.auditSession || !theirs.auditSession ||
               *ours.auditSession == *theirs.auditSession;
    }
    // Another name of our own server (a link to its socket).
    if (ours.server && ours.server->pid > 0 && ours.server->pid == theirs.server->pid)
        return true;
    return startedFromSession(*theirs.server, ours, user);
}

bool needsDisplayServer(const SessionMarks& ours, const SessionMarks& theirs) {
    return ours.display && theirs.display && *ours.display != *theirs.display &&
           theirs.display->kind != DisplayAddress::Kind::remote;
}

bool isProcessOfSession(pid_t pid, const SessionMarks& ours, uid_t user) {
    SessionMarks theirs = readSessionMarks(pid, false);
    if (needsDisplayServer(ours, theirs))
        theirs.server = readDisplayServer(*theirs.display);
    return isSameSession(ours, theirs, user);
}

}  // namespace platform::session
