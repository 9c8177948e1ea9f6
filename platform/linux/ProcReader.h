// Reads what the process watcher needs of one process from /proc: its parentage, start time,
// owner and executable, and on demand its launch variables, systemd unit, flatpak and snap.
#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace platform::proc {

struct ProcessStatus {
    pid_t pid = 0;
    pid_t parent = 0;
    pid_t processGroup = 0;
    unsigned long long startTime = 0;  // clock ticks after boot; tells a reused pid apart
    uid_t owner = 0;
    QString name;        // the kernel's short name (comm)
    QString executable;  // the real path of its executable; empty for kernel threads
};

// What the watcher uses of a /proc/<pid>/stat line.
struct StatFields {
    char state = '?';  // R, S, D, T (stopped), t (traced), Z …
    pid_t parent = 0;
    pid_t processGroup = 0;
    unsigned long long startTime = 0;
    QString name;
};

// The process ids currently in /proc, ascending.
std::vector<pid_t> listProcesses();
// None when the process is gone or its files cannot be parsed.
std::optional<ProcessStatus> readStatus(pid_t pid);
std::optional<unsigned long long> readStartTime(pid_t pid);
// The fields of its stat line; none when it is gone.
std::optional<StatFields> readStatFields(pid_t pid);
// Whether the process runs as our user but is not dumpable (as Vaultine makes itself): the kernel
// then gives its /proc files to root and keeps its executable, memory and environment from us, and
// its stat (name, state, start time) is all there is to read.
bool isUndumpableOfOurs(pid_t pid);
// The real path of the executable; a binary replaced on disk keeps its path. A process of the
// dynamic loader ("ld.so /usr/bin/xterm"), or of a copy of it under any name, is the program the
// loader runs.
QString readExecutable(pid_t pid);
// A path whose bytes are the program the process runs, for comparing its content: the loaded
// program of a loader's process, else /proc/<pid>/exe (readable even when the file was deleted).
QString readProgramImagePath(pid_t pid);
// The process's initial environment, NUL-separated; none when unreadable.
std::optional<QByteArray> readEnvironment(pid_t pid);
// The value of one variable of the process's initial environment; none when absent or unreadable.
std::optional<QByteArray> readEnvironmentValue(pid_t pid, const QByteArray& name);
// The words the process was started with (argv); empty when unreadable.
QStringList readCommandLine(pid_t pid);
// The kernel's audit session of the process (the login it descends from); none when unset.
std::optional<unsigned> readAuditSession(pid_t pid);
// The number N of the pseudo-terminal /dev/pts/N on the process's standard input, output or
// error, the first found; none when none is one.
std::optional<int> readPseudoTerminalIndex(pid_t pid);
// Whether the process holds the controlling side (/dev/ptmx) of pseudo-terminal N.
bool holdsPseudoTerminalMaster(pid_t pid, int index);
// Whether the process holds a socket besides its standard input, output and error: it may be
// connected to the display (true also when its descriptors cannot be read).
bool holdsSocketsBeyondStandardStreams(pid_t pid);
// The "tty-index" of a /proc/<pid>/fdinfo/<fd> text; none when it has none.
std::optional<int> parseTerminalIndex(const QByteArray& fdinfo);
// The last component of the process's cgroup (a systemd unit such as "app-…-1234.scope").
QString readCgroupLeaf(pid_t pid);
// The application id of a flatpak sandbox the process runs in; empty outside one.
QString readFlatpakApplication(pid_t pid);

// The parsers of the files' bytes, used by the readers above; each answers none or empty for
// bytes in any other shape.

// "pid (comm) state ppid pgrp … starttime …": the comm may hold spaces and parentheses of its own.
// None when the line is cut short or a number is not a non-negative decimal that fits.
std::optional<StatFields> parseStat(const QByteArray& stat);
// The value of `name` among the NUL-separated entries of an environ file (the last one may lack
// its NUL); the first entry wins, as for getenv. None when absent or `name` is no variable name.
std::optional<QByteArray> environmentValue(const QByteArray& environ, const QByteArray& name);
// The last component of the systemd cgroup named by a /proc/<pid>/cgroup file: the unified
// hierarchy's ("0::/…"), else the v1 systemd hierarchy's; empty when the process is in the root.
QString parseCgroupLeaf(const QByteArray& cgroups);
// The application id ("name" of group "Application") of a .flatpak-info key file; empty if none.
QString parseFlatpakInfo(const QByteArray& info);
// The NUL-separated words of a cmdline file.
QStringList parseCommandLine(const QByteArray& commandLine);
// The executable path that a /proc/<pid>/exe link names, without the mark of a deleted file.
QString executableOfLink(const QByteArray& target);
// Whether an executable is named like a dynamic loader ("ld-linux-x86-64.so.2", "ld.so"), which
// runs the program its command line names. A copy under another name is known by its build-id
// (`elf::isSystemLoaderImage`).
bool isDynamicLoader(const QString& executable);
// The program of a loader's command line ("ld.so [--option [value]]... program arguments"), as
// written; empty when none is named.
QString programOfLoaderCommandLine(const QStringList& words);

// The application id that a systemd application unit name carries, without the launcher prefix as
// the first candidate and with it as the second; empty when the unit is no application unit.
std::vector<QString> applicationIdsOfUnit(const QString& unit);
// The "<snap>_<app>" desktop id of a snap cgroup ("snap.<snap>.<app>.…"); empty otherwise.
QString snapDesktopIdOfCgroup(const QString& leaf);

}  // namespace platform::proc
