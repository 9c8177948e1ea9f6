// The guard's view of executions: a fanotify group of the content class with exec-permission marks
// on every filesystem that can hold programs (new mounts marked as they appear), open-permission
// marks on the locked programs' files (a loader reading one), and inode ignore marks on files
// judged once.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "guard/Policy.h"
#include "guard/UniqueFd.h"

namespace guard {

struct ExecEvent {
    UniqueFd file;     // the program being executed or opened, open for reading
    pid_t pid = 0;     // the process calling exec or open
    bool exec = true;  // false: an open of a locked program's file
};

class ExecWatcher {
  public:
    // False when the kernel or the container refuses a fanotify group of this class.
    bool start();
    int fd() const { return group.get(); }
    // Closes the group; its pending events are allowed by the kernel.
    void stop() { group.reset(); }
    // /proc/self/mountinfo, readable with POLLPRI when the mount table changed.
    int mountTableFd() const { return mountTable.get(); }
    // Marks every mounted filesystem but the kernel's own pseudo ones; the count marked. Marking
    // again after the mount table changed adds the new mounts, and reads the quiet mounts again.
    int markFilesystems();
    const std::set<std::uint64_t>& quietMounts() const { return quiet; }
    std::vector<ExecEvent> readEvents();
    // Answers a permission event and closes its file.
    void answer(ExecEvent& event, bool allow);
    // Stops exec events for this file until it is modified (or for good when surviveModify).
    void ignore(const ExecEvent& event, bool surviveModify);
    // Forgets every ignore mark and watches opens of the files the locked paths name now, after a
    // policy changed what is locked.
    void resetInodeMarks(const std::vector<std::string>& lockedPaths);
    bool watchesOpens(std::uint64_t device, std::uint64_t inode) const;

  private:
    bool markOpens(int pathFd, unsigned int flags);

    UniqueFd group;
    UniqueFd mountTable;
    std::set<std::pair<std::uint64_t, std::uint64_t>> openWatched;  // device and inode
    std::set<std::uint64_t> quiet;
};

// The mount points of a mountinfo text that can hold programs.
std::vector<std::string> programMountsIn(const std::string& mountinfo);
// The ids of a mountinfo text's mounts where looking up or opening a file waits on nobody: every
// mount but FUSE (a user's own server can stall), autofs (an automounter) and network filesystems.
std::set<std::uint64_t> quietMountsIn(const std::string& mountinfo);
// What an absolute path names, opened with O_PATH one name at a time (symbolic links followed, at
// most 40): a name is looked up only in a folder of a quiet mount, and what it names must be on one
// too (found from the attributes the kernel has cached), so no FUSE server, automounter or network
// server is ever asked. None when the path leaves the quiet mounts or cannot be followed.
UniqueFd openQuietly(const std::string& path, const std::set<std::uint64_t>& quietMounts);
// The program a user names (device, inode, build-id) when the path leads, quietly, to a regular
// file; its build-id is read with O_NONBLOCK and the ELF reader's bounded reads. Meant for a
// worker thread: a locked program's file is watched for opens, and the loop answers that open.
std::optional<LockedProgram> identifyProgram(const std::string& path,
                                             const std::set<std::uint64_t>& quietMounts);

}  // namespace guard
