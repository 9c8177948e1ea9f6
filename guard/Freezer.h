// Freezes a run in the guard's own cgroup, out of its user's reach, and puts it back in the cgroup
// it came from when thawed: cgroup.freeze on the unified hierarchy, freezer.state on cgroup v1.
// Where each run came from is kept in a record file, so that a restarted guard can thaw the runs
// the previous one froze.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace guard {

class Freezer {
  public:
    virtual ~Freezer() = default;
    virtual bool freeze(pid_t pid) = 0;
    virtual bool thaw(pid_t pid) = 0;
    // The runs found frozen when the guard starts that a previous guard with the same record froze,
    // now this one's to thaw.
    virtual std::vector<pid_t> adoptFrozen() = 0;
    // Lets frozen runs leave the kernel waits they were frozen in (a permission wait of the
    // guard's fanotify group keeps the group from closing); they freeze again before user space.
    virtual void leaveKernelWaits() = 0;
};

enum class CgroupVersion { V1, V2 };

// Reads /proc/<pid>/cgroup; injected so that tests drive a fake tree.
using CgroupFileReader = std::function<std::optional<std::string>(pid_t)>;

class CgroupFreezer : public Freezer {
  public:
    // root: the hierarchy's mount (/sys/fs/cgroup, or its freezer folder on v1); record: the file
    // that keeps each frozen run's origin (none kept when empty).
    CgroupFreezer(std::string root, CgroupVersion version, CgroupFileReader readCgroup,
                  std::string record = {});
    // Makes the frozen cgroup and freezes it; false when the hierarchy refuses.
    bool prepare();
    bool freeze(pid_t pid) override;
    bool thaw(pid_t pid) override;
    std::vector<pid_t> adoptFrozen() override;
    void leaveKernelWaits() override;

  private:
    std::optional<std::string> cgroupOf(pid_t pid) const;
    std::string frozenFolder() const { return root + "/vaultine-guard.frozen"; }
    void saveRecord() const;

    std::string root;
    CgroupVersion version;
    CgroupFileReader readCgroup;
    std::string record;
    std::map<pid_t, std::string> origins;  // the cgroup each frozen run came from
};

// The cgroup path of the hierarchy in a /proc/<pid>/cgroup text: the "0::" line on v2, the line
// naming the freezer controller on v1. None for anything odd (a ".." component, no such line).
std::optional<std::string> cgroupPathIn(const std::string& text, CgroupVersion version);

// The record's text: a "pid origin" line per frozen run. Parsing keeps only well-formed lines
// with a cgroup path that cgroupPathIn would accept.
std::string serializeOrigins(const std::map<pid_t, std::string>& origins);
std::map<pid_t, std::string> parseOrigins(std::string_view text);
// The pids of a cgroup.procs text.
std::vector<pid_t> pidsIn(std::string_view text);

// The freezer of this machine, prepared, keeping its record in the given file; none when no
// hierarchy can freeze.
std::unique_ptr<Freezer> systemFreezer(std::string record);

}  // namespace guard
