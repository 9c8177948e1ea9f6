// fanotify for the guard: marks, events, answers. Every call is non-blocking.
#include "guard/ExecWatcher.h"

#include <fcntl.h>
#include <sys/fanotify.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <deque>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "guard/ElfBuildId.h"

namespace guard {

namespace {

// Pseudo filesystems hold no programs. A user's FUSE filesystem is left unmarked too: the file
// of each event is opened by the kernel in the guard's read, through the user's FUSE server, so a
// server that stalls would stall the guard and with it every execution on the machine.
bool isUnwatchedFilesystem(const std::string& type) {
    static const std::set<std::string> pseudo = {
        "proc",    "sysfs", "cgroup",   "cgroup2",   "devpts",      "mqueue",    "debugfs",
        "tracefs", "bpf",   "pstore",   "configfs",  "securityfs",  "fusectl",   "hugetlbfs",
        "autofs",  "nsfs",  "efivarfs", "selinuxfs", "binfmt_misc", "rpc_pipefs"};
    return pseudo.contains(type) || type == "fuse" || type.starts_with("fuse.");
}

// mountinfo escapes spaces and the like as \ooo.
std::string unescapeMountPath(const std::string& text) {
    const auto octal = [](char c) { return c >= '0' && c <= '7'; };
    std::string path;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && octal(text[i + 1]) && octal(text[i + 2]) &&
            octal(text[i + 3])) {
            path.push_back(static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 +
                                             (text[i + 3] - '0')));
            i += 3;
        } else {
            path.push_back(text[i]);
        }
    }
    return path;
}

// Where a lookup or an open can wait on someone: a FUSE server (possibly a user's own), an
// automounter, a network server.
bool isBlockingFilesystem(const std::string& type) {
    static const std::set<std::string> blocking = {"fuse", "fuseblk", "autofs", "nfs",   "nfs4",
                                                   "cifs", "smb3",    "smbfs",  "9p",    "ceph",
                                                   "afs",  "ncpfs",   "coda",   "lustre"};
    return blocking.contains(type) || type.starts_with("fuse.");
}

// Each line's mount id, mount point and filesystem type.
struct MountLine {
    std::uint64_t id = 0;
    std::string point;
    std::string type;
};

std::vector<MountLine> mountLinesIn(const std::string& mountinfo) {
    std::vector<MountLine> mounts;
    std::istringstream info(mountinfo);
    std::string line;
    while (std::getline(info, line)) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point, word;
        fields >> id >> parent >> device >> root >> point;
        while (fields >> word && word != "-") {
        }
        std::string type;
        fields >> type;
        std::uint64_t number = 0;
        const auto [end, error] = std::from_chars(id.data(), id.data() + id.size(), number);
        if (error == std::errc() && end == id.data() + id.size() && !point.empty() && !type.empty())
            mounts.push_back({number, unescapeMountPath(point), type});
    }
    return mounts;
}

// The names of a path, in order.
void prependNames(std::deque<std::string>& names, std::string_view path) {
    std::vector<std::string> found;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        if (end > start)
            found.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    names.insert(names.begin(), found.begin(), found.end());
}

// Whether what the descriptor names is on a quiet mount, from the attributes the kernel has cached.
bool onQuietMount(int fd, const std::set<std::uint64_t>& quietMounts, struct statx& status) {
    return ::statx(fd, "",
                   AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC,
                   STATX_TYPE | STATX_MNT_ID, &status) == 0 &&
           (status.stx_mask & STATX_MNT_ID) && quietMounts.contains(status.stx_mnt_id);
}

std::string readMountTable() {
    std::ifstream info("/proc/self/mountinfo");
    std::stringstream text;
    text << info.rdbuf();
    return text.str();
}

}  // namespace

std::vector<std::string> programMountsIn(const std::string& mountinfo) {
    std::vector<std::string> mounts;
    for (const MountLine& mount : mountLinesIn(mountinfo)) {
        if (!isUnwatchedFilesystem(mount.type))
            mounts.push_back(mount.point);
    }
    return mounts;
}

std::set<std::uint64_t> quietMountsIn(const std::string& mountinfo) {
    std::set<std::uint64_t> quiet;
    for (const MountLine& mount : mountLinesIn(mountinfo)) {
        if (!isBlockingFilesystem(mount.type))
            quiet.insert(mount.id);
    }
    return quiet;
}

UniqueFd openQuietly(const std::string& path, const std::set<std::uint64_t>& quietMounts) {
    constexpr int kMaxLinks = 40;
    if (!path.starts_with('/') || path.find('\0') != std::string::npos)
        return {};
    std::deque<std::string> names;
    prependNames(names, path);
    UniqueFd at(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct statx status {};
    if (!at || !onQuietMount(at.get(), quietMounts, status))
        return {};
    int links = 0;
    while (!names.empty()) {
        const std::string name = std::move(names.front());
        names.pop_front();
        // Looked up in a folder already found on a quiet mount.
        UniqueFd next(::openat(at.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (!next || !onQuietMount(next.get(), quietMounts, status))
            return {};
        if (!S_ISLNK(status.stx_mode)) {
            at = std::move(next);
            continue;
        }
        char target[4096];
        const ssize_t length = ::readlinkat(next.get(), "", target, sizeof target);
        if (++links > kMaxLinks || length <= 0 || length == sizeof target)
            return {};
        const std::string_view link(target, static_cast<std::size_t>(length));
        prependNames(names, link);
        if (link.starts_with('/'))
            at.reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!at)
            return {};
    }
    return at;
}

std::optional<LockedProgram> identifyProgram(const std::string& path,
                                             const std::set<std::uint64_t>& quietMounts) {
    const UniqueFd handle = openQuietly(path, quietMounts);
    struct stat status {};
    if (!handle || ::fstat(handle.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    const std::string reopen = "/proc/self/fd/" + std::to_string(handle.get());
    const UniqueFd file(::open(reopen.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    return LockedProgram{path, status.st_dev, status.st_ino,
                         file ? buildIdOfFile(file.get()) : std::string()};
}

bool ExecWatcher::start() {
    group.reset(::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC | FAN_NONBLOCK,
                                O_RDONLY | O_LARGEFILE | O_CLOEXEC));
    mountTable.reset(::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC));
    return group && mountTable;
}

int ExecWatcher::markFilesystems() {
    int marked = 0;
    const std::string table = readMountTable();
    quiet = quietMountsIn(table);
    for (const std::string& mount : programMountsIn(table)) {
        const bool whole = ::fanotify_mark(group.get(), FAN_MARK_ADD | FAN_MARK_FILESYSTEM,
                                           FAN_OPEN_EXEC_PERM, AT_FDCWD, mount.c_str()) == 0;
        if (whole || ::fanotify_mark(group.get(), FAN_MARK_ADD | FAN_MARK_MOUNT, FAN_OPEN_EXEC_PERM,
                                     AT_FDCWD, mount.c_str()) == 0)
            ++marked;
    }
    return marked;
}

std::vector<ExecEvent> ExecWatcher::readEvents() {
    std::vector<ExecEvent> events;
    alignas(fanotify_event_metadata) std::array<char, 4096> buffer;
    const ssize_t length = ::read(group.get(), buffer.data(), buffer.size());
    if (length <= 0)
        return events;
    auto* metadata = reinterpret_cast<fanotify_event_metadata*>(buffer.data());
    ssize_t left = length;
    for (; FAN_EVENT_OK(metadata, left); metadata = FAN_EVENT_NEXT(metadata, left)) {
        if (metadata->fd < 0)
            continue;
        const bool exec = metadata->mask & FAN_OPEN_EXEC_PERM;
        ExecEvent event{UniqueFd(metadata->fd), metadata->pid, exec};
        if (exec || (metadata->mask & FAN_OPEN_PERM))
            events.push_back(std::move(event));
        else
            answer(event, true);
    }
    return events;
}

void ExecWatcher::answer(ExecEvent& event, bool allow) {
    if (!event.file)
        return;
    const fanotify_response response{event.file.get(),
                                     static_cast<std::uint32_t>(allow ? FAN_ALLOW : FAN_DENY)};
    (void)!::write(group.get(), &response, sizeof response);
    event.file.reset();
}

void ExecWatcher::ignore(const ExecEvent& event, bool surviveModify) {
    const unsigned int flags =
        FAN_MARK_ADD | FAN_MARK_IGNORED_MASK | (surviveModify ? FAN_MARK_IGNORED_SURV_MODIFY : 0);
    (void)::fanotify_mark(group.get(), flags, FAN_OPEN_EXEC_PERM, event.file.get(), nullptr);
}

void ExecWatcher::resetInodeMarks(const std::vector<std::string>& lockedPaths) {
    // Only inode marks are flushed here; the filesystem and mount marks stay.
    (void)::fanotify_mark(group.get(), FAN_MARK_FLUSH, 0, AT_FDCWD, nullptr);
    openWatched.clear();
    for (const std::string& path : lockedPaths) {
        // O_PATH opens no file, so it raises no event of the guard's own; a path that now leads
        // through a FUSE mount or a network filesystem is not followed on the loop.
        const UniqueFd handle = openQuietly(path, quiet);
        struct stat status {};
        if (handle && ::fstat(handle.get(), &status) == 0 && S_ISREG(status.st_mode) &&
            markOpens(handle.get(), FAN_MARK_ADD))
            openWatched.insert({status.st_dev, status.st_ino});
    }
}

bool ExecWatcher::watchesOpens(std::uint64_t device, std::uint64_t inode) const {
    return openWatched.contains({device, inode});
}

bool ExecWatcher::markOpens(int pathFd, unsigned int flags) {
    const std::string link = "/proc/self/fd/" + std::to_string(pathFd);
    return ::fanotify_mark(group.get(), flags, FAN_OPEN_PERM, AT_FDCWD, link.c_str()) == 0;
}

}  // namespace guard
