// Reads a peer process's /proc files and the trusted bundle's ownership, and judges them.
#include "guard/PeerIdentity.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "guard/UniqueFd.h"

namespace guard {

namespace {

constexpr std::size_t kMaxProcFile = 1024 * 1024;

std::optional<std::string> readBounded(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd)
        return std::nullopt;
    std::string text;
    std::array<char, 4096> buffer;
    while (text.size() < kMaxProcFile) {
        const ssize_t count = ::read(fd.get(), buffer.data(), buffer.size());
        if (count < 0)
            return std::nullopt;
        if (count == 0)
            break;
        text.append(buffer.data(), static_cast<std::size_t>(count));
    }
    return text;
}

std::vector<pid_t> listProcesses() {
    std::vector<pid_t> pids;
    const std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir("/proc"), ::closedir);
    while (folder && pids.size() < kMaxProcesses) {
        const dirent* entry = ::readdir(folder.get());
        if (!entry)
            break;
        pid_t pid = 0;
        const std::string_view name = entry->d_name;
        const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (error == std::errc() && end == name.data() + name.size() && pid > 0)
            pids.push_back(pid);
    }
    return pids;
}

FileStatus fileStatusOf(const struct stat& status) {
    return {status.st_uid, status.st_mode, status.st_dev, status.st_ino};
}

bool writableByOthers(const FileStatus& status) {
    return status.owner != 0 || (status.mode & (S_IWGRP | S_IWOTH));
}

// The file and every folder above it must be root's and writable by root alone; a symbolic link
// on the way is refused rather than followed.
bool bundleIsSafe(const std::string& trusted, const ProcessReaders& readers) {
    std::string path = trusted;
    while (!path.empty()) {
        const auto status = readers.path(path);
        if (!status || S_ISLNK(status->mode) || writableByOthers(*status))
            return false;
        path = path.substr(0, path.find_last_of('/'));
    }
    const auto root = readers.path("/");
    return root && !writableByOthers(*root);
}

std::optional<std::uint64_t> uidField(std::string_view status, int index) {
    const auto field = statusField(status, "Uid");
    if (!field)
        return std::nullopt;
    std::string_view rest = *field;
    for (int i = 0; i < index; ++i)
        rest.remove_prefix(std::min(rest.size(), rest.find('\t') + 1));
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
    return error == std::errc() && end != rest.data() ? std::optional(value) : std::nullopt;
}

// Whether the process is dumpable: its /proc files are then its effective user's, not root's. The
// kernel makes them root's whenever the dumpable attribute is anything but 1 (0, set by Vaultine
// itself, or 2, what suid_dumpable=2 gives a process that changed its credentials), exactly the
// cases where a tracer of the same user needs CAP_SYS_PTRACE. In a user namespace of the user's
// making they are that namespace's root's, the user: who may trace it there.
bool isDumpable(pid_t pid, const ProcessReaders& readers) {
    const auto owner = readers.procFileOwner ? readers.procFileOwner(pid, "status") : std::nullopt;
    return owner != 0u;
}

PeerVerdict judgeStatus(uid_t uid, const std::string& status, bool dumpable) {
    if (uidField(status, 0) != uid || uidField(status, 1) != uid)
        return PeerVerdict::OtherUser;
    if (statusField(status, "TracerPid").value_or("") != "0")
        return PeerVerdict::Traced;
    if (dumpable)
        return PeerVerdict::Dumpable;
    return PeerVerdict::Genuine;
}

// The toolkit's platforms that put windows on the session's screen.
bool isScreenPlatform(std::string_view platform) {
    static constexpr std::string_view kShown[] = {"xcb",         "wayland",     "wayland;xcb",
                                                  "xcb;wayland", "wayland-egl", "wayland-egl;xcb",
                                                  "wayland-brcm"};
    return std::find(std::begin(kShown), std::end(kShown), platform) != std::end(kShown);
}

}  // namespace

std::optional<std::uint64_t> startTimeOfStat(std::string_view stat) {
    const std::size_t close = stat.rfind(')');
    if (close == std::string_view::npos)
        return std::nullopt;
    // After ") " come fields 3 onwards: the start time is the 20th of them.
    std::string_view rest = stat.substr(close + 1);
    for (int field = 2; field < 22; ++field) {
        const std::size_t space = rest.find(' ');
        if (space == std::string_view::npos)
            return std::nullopt;
        rest.remove_prefix(space + 1);
    }
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
    if (error != std::errc() || end == rest.data() || value == 0)
        return std::nullopt;
    return value;
}

std::optional<pid_t> parentOfStat(std::string_view stat) {
    const std::size_t close = stat.rfind(')');
    if (close == std::string_view::npos)
        return std::nullopt;
    // The parent is field 4, the second after the name's closing parenthesis.
    const std::string_view rest = stat.substr(close + 1);
    const std::size_t at = rest.find(' ', 1);
    pid_t parent = 0;
    if (at == std::string_view::npos ||
        std::from_chars(rest.data() + at + 1, rest.data() + rest.size(), parent).ec != std::errc())
        return std::nullopt;
    return parent;
}

std::optional<char> stateOfStat(std::string_view stat) {
    const std::size_t close = stat.rfind(')');
    if (close == std::string_view::npos || close + 2 >= stat.size() || stat[close + 1] != ' ')
        return std::nullopt;
    return stat[close + 2];
}

std::optional<std::string> statusField(std::string_view status, std::string_view name) {
    std::size_t start = 0;
    while (start < status.size()) {
        const std::size_t end = std::min(status.find('\n', start), status.size());
        const std::string_view line = status.substr(start, end - start);
        if (line.size() > name.size() && line.starts_with(name) && line[name.size()] == ':') {
            std::string_view value = line.substr(name.size() + 1);
            while (!value.empty() && (value.front() == '\t' || value.front() == ' '))
                value.remove_prefix(1);
            return std::string(value);
        }
        start = end + 1;
    }
    return std::nullopt;
}

namespace {

// Null-separated entries (or separated by another character), each given to visit until it
// returns true.
template <typename Visit>
bool anyEntry(std::string_view entries, Visit visit, char separator = '\0') {
    std::size_t start = 0;
    while (start < entries.size()) {
        const std::size_t end = std::min(entries.find(separator, start), entries.size());
        if (visit(entries.substr(start, end - start)))
            return true;
        start = end + 1;
    }
    return false;
}

// The first value of a variable in a /proc/<pid>/environ text, as getenv() finds it.
std::optional<std::string_view> environmentValue(std::string_view environ, std::string_view name) {
    std::optional<std::string_view> value;
    anyEntry(environ, [&](std::string_view entry) {
        if (entry.size() > name.size() && entry.starts_with(name) && entry[name.size()] == '=')
            value = entry.substr(name.size() + 1);
        return value.has_value();
    });
    return value;
}

// The toolkit's platforms, in the order it tries them: a -platform argument, QT_QPA_PLATFORM,
// else what Vaultine asks for in a Wayland session (Wayland, then X11), else X11.
std::string platformsOf(std::string_view environ, std::string_view commandLine) {
    std::optional<std::string_view> chosen;
    bool valueNext = false;
    anyEntry(commandLine, [&](std::string_view argument) {
        if (std::exchange(valueNext, false))
            chosen = argument;
        for (const std::string_view option : {"-platform", "--platform"}) {
            if (argument == option)
                valueNext = true;
            else if (argument.starts_with(option) && argument.size() > option.size() &&
                     argument[option.size()] == '=')
                chosen = argument.substr(option.size() + 1);
        }
        return false;
    });
    if (!chosen || chosen->empty())
        chosen = environmentValue(environ, "QT_QPA_PLATFORM");
    if (chosen && !chosen->empty())
        return std::string(*chosen);
    const bool wayland = environmentValue(environ, "XDG_SESSION_TYPE") == "wayland" ||
                         !environmentValue(environ, "WAYLAND_DISPLAY").value_or("").empty();
    return wayland ? "wayland;xcb" : "xcb";
}

// The toolkit's X11 platform takes a "-display NAME" (or "--display NAME") argument over DISPLAY.
std::optional<std::string_view> displayArgument(std::string_view commandLine) {
    std::optional<std::string_view> display;
    bool valueNext = false;
    anyEntry(commandLine, [&](std::string_view argument) {
        if (std::exchange(valueNext, false))
            display = argument;
        else
            valueNext = argument == "-display" || argument == "--display";
        return false;
    });
    return display;
}

bool isSessionId(std::string_view id) {
    return !id.empty() && id.size() <= 64 && std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    });
}

// The logind record of the peer's graphical session: the one its cgroup names, else the user's
// graphical one (a Vaultine started by the user's service manager is in no session's scope).
std::optional<std::string> graphicalSession(pid_t pid, uid_t uid,
                                            const std::optional<std::string>& user,
                                            const ProcessReaders& readers) {
    const auto graphical = [uid](const std::optional<std::string>& record) {
        const auto type = record ? recordField(*record, "TYPE") : std::nullopt;
        return record && recordField(*record, "UID") == std::to_string(uid) &&
               (type == "x11" || type == "wayland");
    };
    const auto cgroup = readers.procFile(pid, "cgroup");
    const auto own = cgroup ? sessionOfCgroup(*cgroup) : std::nullopt;
    auto record = own ? readers.logindRecord("sessions/" + *own) : std::nullopt;
    if (graphical(record))
        return record;
    const auto display = user ? recordField(*user, "DISPLAY") : std::nullopt;
    record = display && isSessionId(*display) ? readers.logindRecord("sessions/" + *display)
                                              : std::nullopt;
    return graphical(record) ? record : std::nullopt;
}

}  // namespace

bool hasLoaderVariables(std::string_view environ) {
    static constexpr std::string_view kRefused[] = {
        "LD_PRELOAD=", "LD_LIBRARY_PATH=", "LD_AUDIT=", "QT_PLUGIN_PATH=",
        "QT_QPA_PLATFORM_PLUGIN_PATH="};
    return anyEntry(environ, [](std::string_view entry) {
        return std::any_of(
            std::begin(kRefused), std::end(kRefused),
            [entry](std::string_view refused) { return entry.starts_with(refused); });
    });
}

bool choosesUnseenWindowSystem(std::string_view environ, std::string_view commandLine) {
    constexpr std::string_view variable = "QT_QPA_PLATFORM=";
    if (anyEntry(environ, [&](std::string_view entry) {
            return entry.starts_with(variable) && !isScreenPlatform(entry.substr(variable.size()));
        }))
        return true;
    // "-platform NAME", "--platform NAME", "-platform=NAME" among the arguments.
    bool valueNext = false;
    return anyEntry(commandLine, [&](std::string_view argument) {
        if (std::exchange(valueNext, false))
            return !isScreenPlatform(argument);
        for (const std::string_view option : {"-platform", "--platform"}) {
            if (argument == option) {
                valueNext = true;
                return false;
            }
            if (argument.starts_with(option) && argument.size() > option.size() &&
                argument[option.size()] == '=')
                return !isScreenPlatform(argument.substr(option.size() + 1));
        }
        return false;
    });
}

std::optional<std::string> recordField(std::string_view record, std::string_view key) {
    std::size_t start = 0;
    while (start < record.size()) {
        const std::size_t end = std::min(record.find('\n', start), record.size());
        const std::string_view line = record.substr(start, end - start);
        if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == '=')
            return std::string(line.substr(key.size() + 1));
        start = end + 1;
    }
    return std::nullopt;
}

std::optional<std::string> sessionOfCgroup(std::string_view cgroup) {
    std::size_t start = 0;
    while (start < cgroup.size()) {
        const std::size_t end = std::min(cgroup.find('\n', start), cgroup.size());
        const std::string_view line = cgroup.substr(start, end - start);
        start = end + 1;
        // The unified hierarchy's line, or the v1 hierarchy systemd keeps; a session's scope sits
        // right under its user's slice (a folder of that name deeper down is the user's making).
        const std::size_t first = line.find(':'), second = line.find(':', first + 1);
        if (first == std::string_view::npos || second == std::string_view::npos)
            continue;
        const std::string_view controllers = line.substr(first + 1, second - first - 1);
        const std::string_view path = line.substr(second + 1);
        if (!controllers.empty() && controllers != "name=systemd")
            continue;
        constexpr std::string_view prefix = "/user.slice/user-";
        const std::size_t slice = path.find(".slice/session-", prefix.size());
        if (!path.starts_with(prefix) || slice == std::string_view::npos ||
            !path.ends_with(".scope"))
            continue;
        const std::size_t idAt = slice + std::string_view(".slice/session-").size();
        const std::string_view id = path.substr(idAt, path.size() - idAt - 6);
        const std::string_view user = path.substr(prefix.size(), slice - prefix.size());
        if (isSessionId(id) && !user.empty() &&
            user.find_first_not_of("0123456789") == std::string_view::npos)
            return std::string(id);
    }
    return std::nullopt;
}

bool sameXDisplay(std::string_view one, std::string_view other) {
    const auto local = [](std::string_view name) -> std::optional<std::string_view> {
        const std::size_t colon = name.rfind(':');
        if (colon == std::string_view::npos)
            return std::nullopt;
        const std::string_view host = name.substr(0, colon);
        std::string_view number = name.substr(colon + 1);
        number = number.substr(0, number.find('.'));
        if ((!host.empty() && host != "unix") || number.empty() ||
            number.find_first_not_of("0123456789") != std::string_view::npos)
            return std::nullopt;
        return number;
    };
    const auto first = local(one), second = local(other);
    return first && second && *first == *second;
}

bool drawsOnSession(std::string_view session, std::string_view runtimeFolder,
                    std::string_view environ, std::string_view commandLine) {
    const auto type = recordField(session, "TYPE");
    std::vector<std::string_view> platforms;
    const std::string chosen = platformsOf(environ, commandLine);
    anyEntry(
        chosen,
        [&](std::string_view platform) {
            platforms.push_back(platform);
            return false;
        },
        ';');
    const auto onWayland = [](std::string_view platform) {
        return platform.starts_with("wayland");
    };
    if (type == "x11") {
        // No Wayland compositor is the session's: one would be the user's own.
        const auto display = recordField(session, "DISPLAY");
        if (!display || display->empty())
            return true;
        return std::none_of(platforms.begin(), platforms.end(), onWayland) &&
               sameXDisplay(environmentValue(environ, "DISPLAY").value_or(""), *display) &&
               sameXDisplay(displayArgument(commandLine).value_or(*display), *display);
    }
    if (type != "wayland" || platforms.empty() || !onWayland(platforms.front()))
        return true;
    // libwayland's choice: an inherited connection, an absolute path, or a name in
    // XDG_RUNTIME_DIR (wayland-0 when none is given).
    if (environmentValue(environ, "WAYLAND_SOCKET"))
        return false;
    const auto withoutTrailingSlashes = [](std::string_view folder) {
        while (folder.size() > 1 && folder.ends_with('/'))
            folder.remove_suffix(1);
        return folder;
    };
    std::string socket(environmentValue(environ, "WAYLAND_DISPLAY").value_or(""));
    if (socket.empty())
        socket = "wayland-0";
    if (!socket.starts_with('/'))
        socket = std::string(withoutTrailingSlashes(
                     environmentValue(environ, "XDG_RUNTIME_DIR").value_or(""))) +
                 "/" + socket;
    runtimeFolder = withoutTrailingSlashes(runtimeFolder);
    const std::size_t slash = socket.rfind('/');
    const std::string_view name = std::string_view(socket).substr(slash + 1);
    return std::string_view(socket).substr(0, slash) == runtimeFolder && !name.empty() &&
           name != "." && name != "..";
}

ProcessReaders systemReaders() {
    ProcessReaders readers;
    readers.procFile = [](pid_t pid, std::string_view name) {
        return readBounded("/proc/" + std::to_string(pid) + "/" + std::string(name));
    };
    // From the attributes the kernel has cached: a FUSE server is never asked (one that stalled
    // would stall the guard).
    readers.procFileOwner = [](pid_t pid, std::string_view name) -> std::optional<uid_t> {
        struct stat status {};
        const std::string path = "/proc/" + std::to_string(pid) + "/" + std::string(name);
        if (::lstat(path.c_str(), &status) != 0)
            return std::nullopt;
        return status.st_uid;
    };
    readers.executable = [](pid_t pid) -> std::optional<FileStatus> {
        struct statx status {};
        const std::string link = "/proc/" + std::to_string(pid) + "/exe";
        if (::statx(AT_FDCWD, link.c_str(), AT_STATX_DONT_SYNC, STATX_BASIC_STATS, &status) != 0)
            return std::nullopt;
        return FileStatus{status.stx_uid, status.stx_mode,
                          makedev(status.stx_dev_major, status.stx_dev_minor), status.stx_ino};
    };
    readers.path = [](const std::string& path) -> std::optional<FileStatus> {
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0)
            return std::nullopt;
        return fileStatusOf(status);
    };
    readers.processes = listProcesses;
    readers.logindRecord = [](const std::string& name) {
        return readBounded("/run/systemd/" + name);
    };
    return readers;
}

bool peerAnswers(pid_t pid, std::uint64_t startTime, const ProcessReaders& readers) {
    const auto stat = readers.procFile(pid, "stat");
    const auto status = readers.procFile(pid, "status");
    if (!stat || !status || startTimeOfStat(*stat) != startTime)
        return false;
    const char state = stateOfStat(*stat).value_or('?');
    const bool running = state == 'R' || state == 'S' || state == 'D' || state == 'I';
    return running && statusField(*status, "TracerPid").value_or("") == "0" &&
           !isDumpable(pid, readers) && startTimeOf(pid, readers) == startTime;
}

std::optional<std::uint64_t> startTimeOf(pid_t pid, const ProcessReaders& readers) {
    const auto stat = readers.procFile(pid, "stat");
    return stat ? startTimeOfStat(*stat) : std::nullopt;
}

std::optional<uid_t> realUidOf(pid_t pid, const ProcessReaders& readers) {
    const auto status = readers.procFile(pid, "status");
    const auto uid = status ? uidField(*status, 0) : std::nullopt;
    return uid ? std::optional(static_cast<uid_t>(*uid)) : std::nullopt;
}

std::vector<ProcessRun> lineageOf(pid_t pid, const ProcessReaders& readers) {
    std::vector<ProcessRun> lineage;
    while (pid > 1 && lineage.size() < 64) {
        const auto stat = readers.procFile(pid, "stat");
        const auto start = stat ? startTimeOfStat(*stat) : std::nullopt;
        const auto parent = stat ? parentOfStat(*stat) : std::nullopt;
        if (!start)
            break;
        lineage.push_back({pid, *start});
        if (!parent)
            break;
        pid = *parent;
    }
    return lineage;
}

std::vector<ProcessRun> descendantsOf(const ProcessRun& run, uid_t uid,
                                      const std::vector<pid_t>& known,
                                      const ProcessReaders& readers) {
    constexpr std::size_t kMaxDescendants = 1024;
    std::multimap<pid_t, ProcessRun> children;  // by parent
    for (const pid_t pid : readers.processes ? readers.processes() : std::vector<pid_t>()) {
        const auto stat = readers.procFile(pid, "stat");
        const auto parent = stat ? parentOfStat(*stat) : std::nullopt;
        const auto start = stat ? startTimeOfStat(*stat) : std::nullopt;
        if (parent && start && pid != run.pid)
            children.emplace(*parent, ProcessRun{pid, *start});
    }
    std::vector<ProcessRun> found;
    std::vector<ProcessRun> parents = {run};
    for (std::size_t next = 0; next < parents.size() && found.size() < kMaxDescendants; ++next) {
        const auto [first, last] = children.equal_range(parents[next].pid);
        for (auto child = first; child != last && found.size() < kMaxDescendants; ++child) {
            // A child younger than its parent's start is the parent's; a pid reused is not.
            const ProcessRun& process = child->second;
            if (process.startTime < parents[next].startTime ||
                std::find(known.begin(), known.end(), process.pid) != known.end() ||
                realUidOf(process.pid, readers) != uid)
                continue;
            found.push_back(process);
            parents.push_back(process);
        }
    }
    return found;
}

PeerVerdict judgePeer(pid_t pid, uid_t uid, std::uint64_t startTime,
                      const std::string& trustedExecutable, const ProcessReaders& readers) {
    const auto before = startTimeOf(pid, readers);
    if (!before)
        return PeerVerdict::ProcessGone;
    const auto status = readers.procFile(pid, "status");
    const bool dumpable = isDumpable(pid, readers);
    const auto running = readers.executable(pid);
    const auto trusted = readers.path(trustedExecutable);
    const auto after = startTimeOf(pid, readers);
    if (*before != startTime || after != startTime)
        return after ? PeerVerdict::PidReused : PeerVerdict::ProcessGone;
    if (!status || !running)
        return PeerVerdict::ProcessGone;
    if (!trusted || running->device != trusted->device || running->inode != trusted->inode)
        return PeerVerdict::NotTrustedFile;
    if (!bundleIsSafe(trustedExecutable, readers))
        return PeerVerdict::UnsafeBundle;
    return judgeStatus(uid, *status, dumpable);
}

PeerVerdict judgeSettings(pid_t pid, uid_t uid, std::uint64_t startTime,
                          const ProcessReaders& readers) {
    const auto environ = readers.procFile(pid, "environ");
    const auto commandLine = readers.procFile(pid, "cmdline");
    const auto user =
        readers.logindRecord ? readers.logindRecord("users/" + std::to_string(uid)) : std::nullopt;
    const auto session =
        readers.logindRecord ? graphicalSession(pid, uid, user, readers) : std::nullopt;
    const auto after = startTimeOf(pid, readers);
    if (after != startTime)
        return after ? PeerVerdict::PidReused : PeerVerdict::ProcessGone;
    if (!environ || !commandLine)
        return PeerVerdict::ProcessGone;
    if (hasLoaderVariables(*environ))
        return PeerVerdict::LoaderVariables;
    if (choosesUnseenWindowSystem(*environ, *commandLine))
        return PeerVerdict::UnseenWindowSystem;
    const std::string runtimeFolder = (user ? recordField(*user, "RUNTIME") : std::nullopt)
                                          .value_or("/run/user/" + std::to_string(uid));
    if (session && !drawsOnSession(*session, runtimeFolder, *environ, *commandLine))
        return PeerVerdict::OtherDisplay;
    return PeerVerdict::Genuine;
}

}  // namespace guard
