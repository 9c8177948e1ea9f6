// What the guard answers to an execution: let it run (and stop watching a file no policy locks
// and no user can change), or hold it until the user's Vaultine covers it; and to an open of a
// locked program's file, held the same way when a loader opens it to run it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "guard/Policy.h"

namespace guard {

struct ExecutedFile {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::string path;
    uid_t owner = 0;
    mode_t mode = 0;
    std::function<std::string()> buildId;  // read only when a policy locks a build-id
};

enum class ExecAnswer {
    Allow,
    AllowAndIgnore,  // no policy locks the file and only root can change it
    Hold,
};

bool locksFile(const Policy& policy, const ExecutedFile& file, const std::string& buildId);

// The answer to an exec of file by a process of uid, whose lineage is the process and its
// ancestors: a run the password released covers what it starts. The build-id is read at most once.
ExecAnswer decideExec(const std::map<uid_t, Policy>& policies, uid_t uid,
                      const std::vector<Run>& lineage, const ExecutedFile& file);

// The answer to an open of a file by a process of uid: a loader (`ld.so program`) opening a locked
// program runs it, so it is held like that program's exec; any other reader goes on at once.
ExecAnswer decideOpen(const std::map<uid_t, Policy>& policies, uid_t uid,
                      const std::vector<Run>& lineage, const ExecutedFile& file, bool byLoader);

// The system's dynamic loaders, known by device and inode and by build-id, so that a copy of one
// run from elsewhere is known too.
struct Loaders {
    std::set<std::pair<std::uint64_t, std::uint64_t>> files;
    std::set<std::string> buildIds;

    // The build-id is read only when the file is not one of the loaders themselves.
    bool contains(std::uint64_t device, std::uint64_t inode,
                  const std::function<std::string()>& buildId) const;
};

// The loaders found at their usual paths.
Loaders systemLoaders();

}  // namespace guard
