// Raises our descriptor limit through setrlimit: the soft limit (often 1024) is what a session's
// programs could exhaust; the hard one is ours to take without privileges. Closes the process to
// tracers of its user through its dumpable attribute.
#include "platform/ProcessLimits.h"

#include <sys/prctl.h>
#include <sys/resource.h>

namespace platform {

bool raiseDescriptorLimit() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return false;
    if (limit.rlim_cur == limit.rlim_max)
        return true;
    limit.rlim_cur = limit.rlim_max;
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

bool closeToTracers() {
    return ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0 && ::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) == 0;
}

}  // namespace platform
