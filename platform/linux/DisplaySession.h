// Which desktop session a process belongs to: the X server that its $DISPLAY leads to, resolved as
// Xlib resolves it and identified by the kernel, and the kernel's login (audit) session.
#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QList>
#include <optional>

namespace platform::session {

// Where a display name leads.
struct DisplayAddress {
    enum class Kind {
        local,   // the X server of this machine with `number` (/tmp/.X11-unix/X<number>)
        socket,  // the server listening on the socket at `path`
        remote,  // the server `number` on `host`, not provably this machine
    };
    Kind kind = Kind::local;
    int number = 0;
    QByteArray path;
    QByteArray host;

    bool operator==(const DisplayAddress&) const = default;
};

// The names this machine answers to over the network besides the loopback and unspecified
// addresses: its host name and the addresses of its interfaces.
QList<QByteArray> localHostNames();
// Whether a host of a display name reaches this machine: "localhost", a loopback or unspecified
// address in any notation the resolver accepts ("127.1", "[::1]"), or one of `localNames`.
bool isLocalHost(const QByteArray& host, const QList<QByteArray>& localNames);
// A display name ("[protocol/][host]:number[.screen]", or a socket path with an optional
// ".screen") resolved as Xlib does: the screen does not matter, an empty host, "unix" and the unix
// protocol name the local server, a host of this machine names the local server of that number
// (the one server of a number listens on its socket and its port alike), and the socket path of a
// local server's number is that server. None for a name Xlib would refuse.
std::optional<DisplayAddress> resolveDisplayName(const QByteArray& name,
                                                 const QList<QByteArray>& localNames);

// The process that serves a display's socket, as the kernel reports the listener, and what tells
// whether this session started it.
struct DisplayServer {
    pid_t pid = 0;
    uid_t owner = 0;
    std::optional<unsigned> auditSession;
    bool startedByServiceManager = false;  // a descendant of the user's own systemd instance
};
// Connects to the display's socket (the abstract name first, as Xlib does) and asks the kernel
// for the listener's credentials; none for a remote display or when no socket answers.
std::optional<DisplayServer> readDisplayServer(const DisplayAddress& address);

// What tells the processes of one desktop session from those of another login of the same user.
struct SessionMarks {
    std::optional<DisplayAddress> display;  // where $DISPLAY leads; none when unset or invalid
    std::optional<unsigned> auditSession;   // the kernel's login session id
    std::optional<DisplayServer> server;    // the server of `display`, when read
};
// The process's marks, with its display's server when `withServer`.
SessionMarks readSessionMarks(pid_t pid, bool withServer);

// Whether the process with `theirs` belongs to the session of `ours` (of user `user`). It does
// not only when the kernel says so: its display leads to another X server that this session did
// not start (one of another user, such as a display manager's, or of another login of ours); or,
// its display telling nothing (none, or a server that cannot be identified), both audit sessions
// are set and differ (ssh). A nested server that this session started is this session's, so its
// clients are locked like any other; what cannot be told apart counts as this session.
bool isSameSession(const SessionMarks& ours, const SessionMarks& theirs, uid_t user);
// Whether `theirs` leads to another server than ours by name alone, so that its server must be
// read before isSameSession can tell.
bool needsDisplayServer(const SessionMarks& ours, const SessionMarks& theirs);
// The process's marks read and judged against `ours`; its display's server read only when needed.
bool isProcessOfSession(pid_t pid, const SessionMarks& ours, uid_t user);

}  // namespace platform::session
