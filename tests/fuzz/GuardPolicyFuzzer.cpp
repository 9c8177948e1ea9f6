// Fuzzes what the guard reads from disk, the kernel and programs: the policy file's parser (a
// parsed policy serialises to the same text), the frozen runs' record and cgroup.procs, a process's
// stat state, the mount table, the ELF build-id reader, and logind's session records with the
// display a process's environment names.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "guard/ElfBuildId.h"
#include "guard/ExecWatcher.h"
#include "guard/Freezer.h"
#include "guard/PeerIdentity.h"
#include "guard/Policy.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto policy = guard::parsePolicy(text)) {
        if (guard::parsePolicy(guard::serializePolicy(*policy)) != policy)
            std::abort();
    }
    if (guard::buildIdOfBytes(std::span(data, size)).size() > 64)
        std::abort();
    // Every origin kept is a path cgroupPathIn would accept, and the record reads back the same.
    const auto origins = guard::parseOrigins(text);
    for (const auto& [pid, origin] : origins) {
        if (pid <= 0 || origin.mark.run <= 0 ||
            guard::cgroupPathIn("0::" + origin.cgroup + "\n", guard::CgroupVersion::V2) !=
                origin.cgroup)
            std::abort();
    }
    if (guard::parseOrigins(guard::serializeOrigins(origins)) != origins)
        std::abort();
    for (const pid_t pid : guard::pidsIn(text)) {
        if (pid <= 0)
            std::abort();
    }
    (void)guard::stateOfStat(text);
    for (const std::string& mount : guard::programMountsIn(std::string(text))) {
        if (mount.empty())
            std::abort();
    }
    (void)guard::quietMountsIn(std::string(text));
    // A session id found goes into a path under /run/systemd: letters and digits only.
    if (const auto session = guard::sessionOfCgroup(text)) {
        if (session->empty() ||
            session->find_first_not_of("0123456789abcdefghijklmnopqrstuvwxyz"
                                       "ABCDEFGHIJKLMNOPQRSTUVWXYZ") != std::string::npos)
            std::abort();
    }
    // The first half a session record, the rest an environment and arguments.
    const std::string_view record = text.substr(0, text.size() / 2);
    const std::string_view environ = text.substr(text.size() / 2);
    (void)guard::recordField(record, "TYPE");
    (void)guard::drawsOnSession(record, "/run/user/1000", environ, environ);
    if (guard::sameXDisplay(record, environ) != guard::sameXDisplay(environ, record))
        std::abort();
    return 0;
}
