// Matches an executed file against the policies: by device and inode, by path, by build-id.
#include "guard/ExecDecision.h"

#include <sys/stat.h>

#include <optional>

namespace guard {

namespace {

bool anyBuildIds(const std::map<uid_t, Policy>& policies) {
    for (const auto& [uid, policy] : policies) {
        for (const LockedProgram& program : policy.programs) {
            if (!program.buildId.empty() && policy.protects())
                return true;
        }
    }
    return false;
}

bool onlyRootCanChange(const ExecutedFile& file) {
    return file.owner == 0 && !(file.mode & (S_IWGRP | S_IWOTH));
}

}  // namespace

bool locksFile(const Policy& policy, const ExecutedFile& file, const std::string& buildId) {
    if (!policy.protects())
        return false;
    for (const LockedProgram& program : policy.programs) {
        if ((program.device == file.device && program.inode == file.inode) ||
            program.path == file.path || (!buildId.empty() && program.buildId == buildId))
            return true;
    }
    return false;
}

ExecAnswer decideExec(const std::map<uid_t, Policy>& policies, uid_t uid,
                      const std::vector<Run>& lineage, const ExecutedFile& file) {
    const std::string buildId =
        anyBuildIds(policies) && file.buildId ? file.buildId() : std::string();
    bool lockedForAnyone = false;
    bool lockedForUser = false;
    for (const auto& [owner, policy] : policies) {
        const bool locked = locksFile(policy, file, buildId);
        lockedForAnyone = lockedForAnyone || locked;
        lockedForUser = lockedForUser || (locked && owner == uid);
    }
    if (!lockedForAnyone)
        return onlyRootCanChange(file) ? ExecAnswer::AllowAndIgnore : ExecAnswer::Allow;
    if (!lockedForUser)
        return ExecAnswer::Allow;
    const Policy& policy = policies.at(uid);
    for (const Run& run : lineage) {
        if (policy.isReleased(run))
            return ExecAnswer::Allow;
    }
    return ExecAnswer::Hold;
}

}  // namespace guard
