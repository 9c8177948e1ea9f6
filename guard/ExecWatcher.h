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
    // again after the mount table changed adds the new mounts.
    int markFilesystems();
    std::vector<ExecEvent> readEvents();
    // Answers a permission event and closes its file.
    void answer(ExecEvent& event, bool allow);
    // Stops exec events for this file until it is modified (or for good when surviveModify).
    void ignore(const ExecEvent& event, bool surviveModify);
    // Forgets every ignore mark and watches opens of the files the locked paths name now, after a
    // policy changed what is locked.
    void resetInodeMarks(const std::vector<std::string>& lockedPaths);
    bool watchesOpens(std::uint64_t device, std::uint64_t inode) const;
    // The build-id of the file a path descriptor names. The guard's own open of a file it watches
    // would wait for its own answer, so the open mark is lifted for the read.
    std::string buildIdOfPath(int pathFd);

  private:
    bool markOpens(int pathFd, unsigned int flags);

    UniqueFd group;
    UniqueFd mountTable;
    std::set<std::pair<std::uint64_t, std::uint64_t>> openWatched;  // device and inode
};

// The mount points of a mountinfo text that can hold programs.
std::vector<std::string> programMountsIn(const std::string& mountinfo);

}  // namespace guard
