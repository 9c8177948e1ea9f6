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

// What the record keeps of a frozen process besides its origin: the run it belongs to (that run's
// first process; the process itself for that one) and whether the run ran under a lock before it
// froze, so that a restarted guard keeps what was typed at it from reaching it under a new lock.
struct FrozenMark {
    pid_t run = 0;
    bool ranUnderLock = true;
    bool operator==(const FrozenMark&) const = default;
};

class Freezer {
  public:
    virtual ~Freezer() = default;
    // A process frozen already keeps its first mark.
    virtual bool freeze(pid_t pid, FrozenMark mark) = 0;
    virtual bool thaw(pid_t pid) = 0;
    // The processes found frozen when the guard starts that a previous guard with the same record
    // froze, with their marks, now this one's to thaw.
    virtual std::map<pid_t, FrozenMark> adoptFrozen() = 0;
    // Lets frozen runs leave the kernel waits they were frozen in (a permission wait of the
    // guard's fanotify group keeps the group from closing); they freeze again before user space.
    virtual void leaveKernelWaits() = 0;
};

// A frozen process's line of the record: the cgroup it came from and its mark.
struct FrozenOrigin {
    std::string cgroup;
    FrozenMark mark;
    bool operator==(const FrozenOrigin&) const = default;
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
    bool freeze(pid_t pid, FrozenMark mark) override;
    bool thaw(pid_t pid) override;
    std::map<pid_t, FrozenMark> adoptFrozen() override;
    void leaveKernelWaits() override;

  private:
    std::optional<std::string> cgroupOf(pid_t pid) const;
    std::string frozenFolder() const { return root + "/vaultine-guard.frozen"; }
    void saveRecord() const;

    std::string root;
    CgroupVersion version;
    CgroupFileReader readCgroup;
    std::string record;
    std::map<pid_t, FrozenOrigin> origins;
};

// The cgroup path of the hierarchy in a /proc/<pid>/cgroup text: the "0::" line on v2, the line
// naming the freezer controller on v1. None for anything odd (a ".." component, no such line).
std::optional<std::string> cgroupPathIn(const std::string& text, CgroupVersion version);

// The record's text: a "pid run ran|held origin" line per frozen process. Parsing keeps only
// well-formed lines with a cgroup path that cgroupPathIn would accept; a line of an older guard,
// "pid origin", is a run of its own that ran under a lock (never thawed without the password).
std::string serializeOrigins(const std::map<pid_t, FrozenOrigin>& origins);
std::map<pid_t, FrozenOrigin> parseOrigins(std::string_view text);
// The pids of a cgroup.procs text.
std::vector<pid_t> pidsIn(std::string_view text);

// The freezer of this machine, prepared, keeping its record in the given file; none when no
// hierarchy can freeze.
std::unique_ptr<Freezer> systemFreezer(std::string record);

}  // namespace guard
