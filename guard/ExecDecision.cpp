// Matches an executed file against the policies: by device and inode, by path, by build-id; and
// tells a loader from any other program.
#include "guard/ExecDecision.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <optional>

#include "guard/ElfBuildId.h"
#include "guard/UniqueFd.h"

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

ExecAnswer decideOpen(const std::map<uid_t, Policy>& policies, uid_t uid,
                      const std::vector<Run>& lineage, const ExecutedFile& file, bool byLoader) {
    if (byLoader && decideExec(policies, uid, lineage, file) == ExecAnswer::Hold)
        return ExecAnswer::Hold;
    return ExecAnswer::Allow;
}

bool Loaders::contains(std::uint64_t device, std::uint64_t inode,
                       const std::function<std::string()>& buildId) const {
    if (files.contains({device, inode}))
        return true;
    if (buildIds.empty() || !buildId)
        return false;
    const std::string id = buildId();
    return !id.empty() && buildIds.contains(id);
}

Loaders systemLoaders() {
    static constexpr const char* kPaths[] = {
        "/lib64/ld-linux-x86-64.so.2", "/lib/ld-linux-aarch64.so.1", "/lib/ld-linux-armhf.so.3",
        "/lib/ld-linux.so.2",          "/lib64/ld-linux-x32.so.2",   "/lib/ld-musl-x86_64.so.1",
        "/lib/ld-musl-aarch64.so.1"};
    Loaders loaders;
    for (const char* path : kPaths) {
        UniqueFd file(::open(path, O_RDONLY | O_CLOEXEC));
        struct stat status {};
        if (!file || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode))
            continue;
        loaders.files.insert({status.st_dev, status.st_ino});
        if (std::string id = buildIdOfFile(file.get()); !id.empty())
            loaders.buildIds.insert(std::move(id));
    }
    return loaders;
}

}  // namespace guard
