// Moves runs into and out of a frozen cgroup the guard owns.
#include "guard/Freezer.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <sstream>

#include "guard/UniqueFd.h"

namespace guard {

namespace {

bool writeFile(const std::string& path, const std::string& text) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW));
    return fd && ::write(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

bool safeCgroupPath(const std::string& path) {
    if (path.empty() || path[0] != '/')
        return false;
    return path.find("/../") == std::string::npos && !path.ends_with("/..") &&
           path.find('\n') == std::string::npos;
}

bool namesFreezer(const std::string& controllers) {
    std::stringstream list(controllers);
    std::string controller;
    while (std::getline(list, controller, ','))
        if (controller == "freezer")
            return true;
    return false;
}

std::optional<std::string> readText(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return file ? std::optional(text.str()) : std::nullopt;
}

std::optional<std::string> readProcCgroup(pid_t pid) {
    return readText("/proc/" + std::to_string(pid) + "/cgroup");
}

std::optional<pid_t> pidOf(std::string_view text) {
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), pid);
    if (error != std::errc() || end != text.data() + text.size() || pid <= 0)
        return std::nullopt;
    return pid;
}

template <typename Line>
void forEachLine(std::string_view text, Line line) {
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        line(text.substr(start, end - start));
        start = end + 1;
    }
}

// "run ran|held rest": the mark, and the rest of the line.
std::optional<std::pair<FrozenMark, std::string_view>> splitMark(std::string_view text) {
    const std::size_t first = text.find(' ');
    if (first == std::string_view::npos)
        return std::nullopt;
    const std::size_t second = text.find(' ', first + 1);
    const auto run = pidOf(text.substr(0, first));
    const std::string_view ran = text.substr(first + 1, second - first - 1);
    if (second == std::string_view::npos || !run || (ran != "ran" && ran != "held"))
        return std::nullopt;
    return std::pair(FrozenMark{*run, ran == "ran"}, text.substr(second + 1));
}

bool isCgroupMount(const char* path, long magic) {
    struct statfs status {};
    return ::statfs(path, &status) == 0 && status.f_type == magic;
}

}  // namespace

std::optional<std::string> cgroupPathIn(const std::string& text, CgroupVersion version) {
    std::stringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t first = line.find(':');
        const std::size_t second = line.find(':', first == std::string::npos ? 0 : first + 1);
        if (first == std::string::npos || second == std::string::npos)
            continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const bool match =
            version == CgroupVersion::V2 ? line.starts_with("0::") : namesFreezer(controllers);
        const std::string path = line.substr(second + 1);
        if (match)
            return safeCgroupPath(path) ? std::optional(path) : std::nullopt;
    }
    return std::nullopt;
}

std::string serializeOrigins(const std::map<pid_t, FrozenOrigin>& origins) {
    std::string text;
    for (const auto& [pid, origin] : origins)
        text += std::to_string(pid) + " " + std::to_string(origin.mark.run) +
                (origin.mark.ranUnderLock ? " ran " : " held ") + origin.cgroup + "\n";
    return text;
}

std::map<pid_t, FrozenOrigin> parseOrigins(std::string_view text) {
    std::map<pid_t, FrozenOrigin> origins;
    forEachLine(text, [&origins](std::string_view line) {
        auto pid = pidOf(line.substr(0, line.find(' ')));
        std::string_view rest = line.substr(std::min(line.find(' '), line.size()));
        if (!pid || rest.empty())
            return;
        rest.remove_prefix(1);
        FrozenMark mark{*pid, true};
        // An older guard's line names the origin at once; a cgroup path starts with a slash.
        if (!rest.starts_with('/')) {
            const auto fields = splitMark(rest);
            if (!fields)
                return;
            mark = fields->first;
            rest = fields->second;
        }
        std::string origin(rest);
        if (safeCgroupPath(origin))
            origins[*pid] = {std::move(origin), mark};
    });
    return origins;
}

std::vector<pid_t> pidsIn(std::string_view text) {
    std::vector<pid_t> pids;
    forEachLine(text, [&pids](std::string_view line) {
        if (const auto pid = pidOf(line))
            pids.push_back(*pid);
    });
    return pids;
}

CgroupFreezer::CgroupFreezer(std::string root, CgroupVersion version, CgroupFileReader readCgroup,
                             std::string record)
    : root(std::move(root)),
      version(version),
      readCgroup(std::move(readCgroup)),
      record(std::move(record)) {}

bool CgroupFreezer::prepare() {
    if (::mkdir(frozenFolder().c_str(), 0755) != 0 && errno != EEXIST)
        return false;
    if (version == CgroupVersion::V2)
        return writeFile(frozenFolder() + "/cgroup.freeze", "1");
    return writeFile(frozenFolder() + "/freezer.state", "FROZEN");
}

std::optional<std::string> CgroupFreezer::cgroupOf(pid_t pid) const {
    const auto text = readCgroup(pid);
    return text ? cgroupPathIn(*text, version) : std::nullopt;
}

bool CgroupFreezer::freeze(pid_t pid, FrozenMark mark) {
    if (origins.contains(pid))
        return true;
    const auto origin = cgroupOf(pid);
    if (!origin || !writeFile(frozenFolder() + "/cgroup.procs", std::to_string(pid)))
        return false;
    origins.emplace(pid, FrozenOrigin{*origin, mark});
    saveRecord();
    return true;
}

bool CgroupFreezer::thaw(pid_t pid) {
    const auto found = origins.find(pid);
    if (found == origins.end())
        return false;
    const std::string& cgroup = found->second.cgroup;
    const std::string folder = cgroup == "/" ? root : root + cgroup;
    const bool moved = writeFile(folder + "/cgroup.procs", std::to_string(pid));
    origins.erase(found);
    saveRecord();
    return moved;
}

// Only the runs this guard's record names are adopted: the frozen cgroup is the machine's, and a
// run another guard (with other state) froze is that guard's to thaw.
std::map<pid_t, FrozenMark> CgroupFreezer::adoptFrozen() {
    const auto recorded = record.empty() ? std::map<pid_t, FrozenOrigin>()
                                         : parseOrigins(readText(record).value_or(""));
    std::map<pid_t, FrozenMark> adopted;
    for (const pid_t pid : pidsIn(readText(frozenFolder() + "/cgroup.procs").value_or(""))) {
        const auto found = recorded.find(pid);
        if (found == recorded.end())
            continue;
        origins[pid] = found->second;
        adopted[pid] = found->second.mark;
    }
    saveRecord();
    return adopted;
}

// Only v1 freezes a task where it sleeps in the kernel; v2 stops it on its way to user space. The
// state is written back at once: a thawed task needs far longer to reach user space, where the
// pending freeze stops it.
void CgroupFreezer::leaveKernelWaits() {
    if (version == CgroupVersion::V1 && writeFile(frozenFolder() + "/freezer.state", "THAWED"))
        writeFile(frozenFolder() + "/freezer.state", "FROZEN");
}

void CgroupFreezer::saveRecord() const {
    if (record.empty())
        return;
    const std::string temporary = record + ".new";
    ::unlink(temporary.c_str());
    UniqueFd fd(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    const std::string text = serializeOrigins(origins);
    if (fd && ::write(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size()))
        (void)::rename(temporary.c_str(), record.c_str());
    else
        ::unlink(temporary.c_str());
}

std::unique_ptr<Freezer> systemFreezer(std::string record) {
    std::unique_ptr<CgroupFreezer> freezer;
    if (isCgroupMount("/sys/fs/cgroup", CGROUP2_SUPER_MAGIC))
        freezer = std::make_unique<CgroupFreezer>("/sys/fs/cgroup", CgroupVersion::V2,
                                                  readProcCgroup, std::move(record));
    else if (isCgroupMount("/sys/fs/cgroup/freezer", CGROUP_SUPER_MAGIC))
        freezer = std::make_unique<CgroupFreezer>("/sys/fs/cgroup/freezer", CgroupVersion::V1,
                                                  readProcCgroup, std::move(record));
    if (!freezer || !freezer->prepare())
        return nullptr;
    return freezer;
}

}  // namespace guard
