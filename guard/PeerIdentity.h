// Whether a process on the guard's socket is the genuine Vaultine: its executable is the trusted
// bundle's own file (root's, writable by nobody else, in folders likewise), it is neither traced
// nor open to a tracer of its user (not dumpable), and no loader variable shapes it. Pure functions
// over injected readers, so each refusal is testable.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace guard {

struct FileStatus {
    uid_t owner = 0;
    mode_t mode = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

// How the guard reads a process and the file system; the real ones read /proc and stat().
struct ProcessReaders {
    // A file of /proc/<pid>/: "stat", "status", "environ"; none when it cannot be read.
    std::function<std::optional<std::string>(pid_t, std::string_view)> procFile;
    // The owner of a file of /proc/<pid>/ ("status"): the process's effective user, or root while
    // the process is not dumpable, the kernel's sign that attaching to it or reading its memory
    // takes CAP_SYS_PTRACE (the folder /proc/<pid> itself keeps the effective user's).
    std::function<std::optional<uid_t>(pid_t, std::string_view)> procFileOwner;
    // stat() of /proc/<pid>/exe: the file the process runs, wherever it was reached from, from the
    // attributes the kernel has cached.
    std::function<std::optional<FileStatus>(pid_t)> executable;
    // lstat() of a path.
    std::function<std::optional<FileStatus>(const std::string&)> path;
    // The pids /proc lists now, at most kMaxProcesses of them; none when unset.
    std::function<std::vector<pid_t>()> processes;
    // A record logind keeps under /run/systemd/: "sessions/<id>", "users/<uid>"; none when there
    // is none (no logind: a container, a test) or when unset.
    std::function<std::optional<std::string>(const std::string&)> logindRecord;
};

inline constexpr std::size_t kMaxProcesses = 65536;

enum class PeerVerdict {
    Genuine,
    ProcessGone,
    PidReused,       // the start time is not the one the guard saw first
    OtherUser,       // the process's real and effective uid are not the socket peer's
    NotTrustedFile,  // a copy, or another program
    UnsafeBundle,    // the trusted file or one of its folders is writable by someone else
    Traced,
    Dumpable,            // open to a tracer of its user: any program of the user could attach
                         // and speak for it
    LoaderVariables,     // LD_PRELOAD, LD_LIBRARY_PATH, LD_AUDIT or a Qt plugin path in its
                         // environment
    UnseenWindowSystem,  // its windows would go offscreen, to a frame buffer or a VNC server
    OtherDisplay,        // its windows would go to a display other than its session's: a nested or
                         // virtual X server, a compositor of the user's own
};

// Field 22 of /proc/<pid>/stat, counted after the command name's closing parenthesis.
std::optional<std::uint64_t> startTimeOfStat(std::string_view stat);
// Field 3 of /proc/<pid>/stat, the process's state: R, S, D, T (stopped), t (traced), Z…
std::optional<char> stateOfStat(std::string_view stat);
// Field 4 of /proc/<pid>/stat, the parent's pid.
std::optional<pid_t> parentOfStat(std::string_view stat);
// A "Name:\tvalue" field of /proc/<pid>/status.
std::optional<std::string> statusField(std::string_view status, std::string_view name);
bool hasLoaderVariables(std::string_view environ);
// The toolkit is told to draw somewhere other than the session's screen (offscreen, a virtual
// frame buffer, a VNC server): QT_QPA_PLATFORM in the environment, or a -platform argument.
bool choosesUnseenWindowSystem(std::string_view environ, std::string_view commandLine);

// A KEY=value line of a logind record.
std::optional<std::string> recordField(std::string_view record, std::string_view key);
// The logind session whose scope a /proc/<pid>/cgroup text names (".../session-<id>.scope").
std::optional<std::string> sessionOfCgroup(std::string_view cgroup);
// Whether two X display names name the same display of this machine: ":0", ":0.0", "unix:0.1".
bool sameXDisplay(std::string_view one, std::string_view other);
// Whether a process with this environment and these arguments puts Vaultine's windows on the
// graphical session a logind record describes: on X11, on the session's DISPLAY and on no Wayland
// compositor; on Wayland, on a socket in the user's runtime folder (runtimeFolder), or on X11 where
// the toolkit is told to. A record of no graphical session says nothing against it.
bool drawsOnSession(std::string_view session, std::string_view runtimeFolder,
                    std::string_view environ, std::string_view commandLine);

ProcessReaders systemReaders();

// Judges the process pid, which the socket says belongs to uid and which started at startTime
// when the guard first saw it, from what the kernel writes: its program, its users, its tracer and
// whether one of its user's could attach.
// The start time is read again after everything else, so that a pid reused meanwhile is never
// taken for the peer. Quick: checked at each request.
PeerVerdict judgePeer(pid_t pid, uid_t uid, std::uint64_t startTime,
                      const std::string& trustedExecutable, const ProcessReaders& readers);

// Judges what a process judgePeer takes was started with: its environment and arguments (loader
// variables, a platform off the screen) and the display they name, against its user's graphical
// session as logind tells it (the session of the peer's cgroup, else the user's graphical one;
// nothing is judged where logind keeps no record of one: a container, a test). These are the
// process's memory, which a stalled FUSE server can make a read wait on for ever (a page mapped
// from its file, or the process's memory lock held across such a fault): judged on a worker, once
// per connection, since none of it changes.
PeerVerdict judgeSettings(pid_t pid, uid_t uid, std::uint64_t startTime,
                          const ProcessReaders& readers);

// Whether a connected peer can still answer: the same process, neither stopped, traced, open to a
// tracer, nor ended. A Vaultine that cannot answer covers nothing.
bool peerAnswers(pid_t pid, std::uint64_t startTime, const ProcessReaders& readers);

// The start time of a process now, through the readers.
std::optional<std::uint64_t> startTimeOf(pid_t pid, const ProcessReaders& readers);
std::optional<uid_t> realUidOf(pid_t pid, const ProcessReaders& readers);

struct ProcessRun {
    pid_t pid = 0;
    std::uint64_t startTime = 0;
};
// The process and its ancestors up to init (at most 64), each with its start time, so that a run
// released by the password covers what it starts.
std::vector<ProcessRun> lineageOf(pid_t pid, const ProcessReaders& readers);

// The descendants of a run's first process that belong to uid (children of another user's
// process, a setuid program's, are left out with theirs), found by the parents /proc lists: at most
// 1024, the nearest first. Pids in `known` are left out with what they started.
std::vector<ProcessRun> descendantsOf(const ProcessRun& run, uid_t uid,
                                      const std::vector<pid_t>& known,
                                      const ProcessReaders& readers);

}  // namespace guard
