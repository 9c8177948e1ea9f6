// The guard's view of executions: a fanotify group of the content class with exec-permission marks
// on every filesystem that can hold programs, and inode ignore marks on files judged once.
#pragma once

#include <sys/types.h>

#include <vector>

#include "guard/UniqueFd.h"

namespace guard {

struct ExecEvent {
    UniqueFd file;  // the program being executed, open for reading
    pid_t pid = 0;  // the process calling exec
};

class ExecWatcher {
  public:
    // False when the kernel or the container refuses a fanotify group of this class.
    bool start();
    int fd() const { return group.get(); }
    // Marks every mounted filesystem but the kernel's own pseudo ones; the count marked.
    int markFilesystems();
    std::vector<ExecEvent> readEvents();
    // Answers a permission event and closes its file.
    void answer(ExecEvent& event, bool allow);
    // Stops events for this file until it is modified (or for good when surviveModify).
    void ignore(const ExecEvent& event, bool surviveModify);
    // Forgets every ignore mark, after a policy changed what is locked.
    void forgetIgnores();

  private:
    UniqueFd group;
};

}  // namespace guard
