// Moves runs into and out of a frozen cgroup the guard owns.
#include "guard/Freezer.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>

#include <cerrno>
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

std::optional<std::string> readProcCgroup(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/cgroup");
    std::stringstream text;
    text << file.rdbuf();
    return file ? std::optional(text.str()) : std::nullopt;
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

CgroupFreezer::CgroupFreezer(std::string root, CgroupVersion version, CgroupFileReader readCgroup)
    : root(std::move(root)), version(version), readCgroup(std::move(readCgroup)) {}

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

bool CgroupFreezer::freeze(pid_t pid) {
    if (origins.contains(pid))
        return true;
    const auto origin = cgroupOf(pid);
    if (!origin || !writeFile(frozenFolder() + "/cgroup.procs", std::to_string(pid)))
        return false;
    origins.emplace(pid, *origin);
    return true;
}

bool CgroupFreezer::thaw(pid_t pid) {
    const auto found = origins.find(pid);
    if (found == origins.end())
        return false;
    const std::string folder = found->second == "/" ? root : root + found->second;
    const bool moved = writeFile(folder + "/cgroup.procs", std::to_string(pid));
    origins.erase(found);
    return moved;
}

std::unique_ptr<Freezer> systemFreezer() {
    std::unique_ptr<CgroupFreezer> freezer;
    if (isCgroupMount("/sys/fs/cgroup", CGROUP2_SUPER_MAGIC))
        freezer =
            std::make_unique<CgroupFreezer>("/sys/fs/cgroup", CgroupVersion::V2, readProcCgroup);
    else if (isCgroupMount("/sys/fs/cgroup/freezer", CGROUP_SUPER_MAGIC))
        freezer = std::make_unique<CgroupFreezer>("/sys/fs/cgroup/freezer", CgroupVersion::V1,
                                                  readProcCgroup);
    if (!freezer || !freezer->prepare())
        return nullptr;
    return freezer;
}

}  // namespace guard
