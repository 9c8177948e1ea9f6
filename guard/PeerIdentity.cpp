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
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
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

bool isScreenPlatform(std::string_view platform);

PeerVerdict judgeProcess(uid_t uid, const std::string& status, const std::string& environ,
                         const std::string& commandLine) {
    if (uidField(status, 0) != uid || uidField(status, 1) != uid)
        return PeerVerdict::OtherUser;
    if (statusField(status, "TracerPid").value_or("") != "0")
        return PeerVerdict::Traced;
    if (hasLoaderVariables(environ))
        return PeerVerdict::LoaderVariables;
    if (choosesUnseenWindowSystem(environ, commandLine))
        return PeerVerdict::UnseenWindowSystem;
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

// Null-separated entries, each given to visit until it returns true.
template <typename Visit>
bool anyEntry(std::string_view entries, Visit visit) {
    std::size_t start = 0;
    while (start < entries.size()) {
        const std::size_t end = std::min(entries.find('\0', start), entries.size());
        if (visit(entries.substr(start, end - start)))
            return true;
        start = end + 1;
    }
    return false;
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

ProcessReaders systemReaders() {
    ProcessReaders readers;
    readers.procFile = [](pid_t pid, std::string_view name) {
        return readBounded("/proc/" + std::to_string(pid) + "/" + std::string(name));
    };
    // From the attributes the kernel has cached: a FUSE server is never asked (one that stalled
    // would stall the guard).
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
    return readers;
}

bool peerAnswers(pid_t pid, std::uint64_t startTime, const ProcessReaders& readers) {
    const auto stat = readers.procFile(pid, "stat");
    const auto status = readers.procFile(pid, "status");
    if (!stat || !status || startTimeOfStat(*stat) != startTime)
        return false;
    const char state = stateOfStat(*stat).value_or('?');
    const bool running = state == 'R' || state == 'S' || state == 'D' || state == 'I';
    return running && statusField(*status, "TracerPid").value_or("") == "0";
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
    const auto environ = readers.procFile(pid, "environ");
    const auto running = readers.executable(pid);
    const auto trusted = readers.path(trustedExecutable);
    const auto after = startTimeOf(pid, readers);
    if (*before != startTime || after != startTime)
        return after ? PeerVerdict::PidReused : PeerVerdict::ProcessGone;
    if (!status || !environ || !running)
        return PeerVerdict::ProcessGone;
    if (!trusted || running->device != trusted->device || running->inode != trusted->inode)
        return PeerVerdict::NotTrustedFile;
    if (!bundleIsSafe(trustedExecutable, readers))
        return PeerVerdict::UnsafeBundle;
    const auto commandLine = readers.procFile(pid, "cmdline");
    if (!commandLine)
        return PeerVerdict::ProcessGone;
    return judgeProcess(uid, *status, *environ, *commandLine);
}

}  // namespace guard
