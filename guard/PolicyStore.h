// The per-user policy files <state-dir>/<uid>: root's own, mode 0600, replaced atomically (a
// temporary file written, synced and renamed over the old one, then the folder synced); and a
// watch on the folder that tells a running guard of a policy file removed (`--forget`).
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "guard/Policy.h"
#include "guard/UniqueFd.h"

namespace guard {

class PolicyStore {
  public:
    explicit PolicyStore(std::string directory) : directory(std::move(directory)) {}

    // Makes the state folder (0700) when it is missing; false when it cannot.
    bool prepare() const;
    // None when the user has no policy, or when the file is unreadable, corrupt, or not root's own
    // 0600 file: a file someone else could have written is never trusted.
    std::optional<Policy> load(uid_t uid) const;
    std::map<uid_t, Policy> loadAll() const;
    bool save(uid_t uid, const Policy& policy) const;
    bool forget(uid_t uid) const;
    // An inotify descriptor, readable when a file left the folder; the uids named by what left.
    UniqueFd watchRemovals() const;
    static std::vector<uid_t> readRemovals(int watch);
    // The path of a file of the guard's own beside the policies (never a uid's name).
    std::string pathOfOwn(const std::string& name) const { return directory + "/" + name; }

  private:
    std::string pathOf(uid_t uid) const { return directory + "/" + std::to_string(uid); }
    std::string directory;
};

}  // namespace guard
