// Decides which application a process belongs to, in a fixed order: enclosing .app bundle, flatpak
// sandbox, snap cgroup, the program of a desktop entry or bus service (or a copy with its
// build-id), GIO's launch variables, systemd unit. Where several entries name the program, the
// command line chooses the name and every other one still claims the process.
#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "platform/Workspace.h"
#include "platform/linux/DesktopEntryCatalogue.h"
#include "platform/linux/ProcReader.h"

namespace platform {

struct ApplicationMatch {
    QString identifier;
    QString name;        // the entry's or bundle's name, else the process name
    QString bundlePath;  // the desktop entry or .app bundle; empty when none is installed
    QString iconName;    // the entry's Icon; empty for bundles
    ActivationPolicy activationPolicy = ActivationPolicy::regular;
    QStringList otherIdentifiers;  // the other applications that name the same program
};

// The claim whose name a process of that command line is shown by: one whose Exec arguments all
// appear among the process's (`--preferences` is not the terminal), the most specific such one,
// then one that can be listed, then a displayed one, then the first in XDG order. `arguments` are
// the process's words after the program.
const ProgramClaim& chooseClaim(const std::vector<ProgramClaim>& claims,
                                const QStringList& arguments);

class ApplicationMatcher {
  public:
    // Reads (and may cache) the cgroup leaf of a process; the matcher asks for the process's own
    // and, for the systemd-unit rule, its parent's.
    using CgroupLeafReader = std::function<QString(pid_t)>;

    explicit ApplicationMatcher(DesktopEntryCatalogue& catalogue) : catalogue(catalogue) {}

    // First match wins; none for processes that belong to no application.
    std::optional<ApplicationMatch> match(const proc::ProcessStatus& process,
                                          const CgroupLeafReader& cgroupLeaf) const;
    // The process of a window that declares these applications (not empty): named after the
    // first that is listed, as a launch of it would be, and claimed by the others.
    ApplicationMatch matchDeclared(const QStringList& identifiers,
                                   const proc::ProcessStatus& process) const;

  private:
    std::optional<ApplicationMatch> matchBundle(const proc::ProcessStatus& process) const;
    std::optional<ApplicationMatch> matchIdentifier(const QString& identifier,
                                                    const proc::ProcessStatus& process) const;
    std::optional<ApplicationMatch> matchProgram(const proc::ProcessStatus& process) const;
    std::optional<ApplicationMatch> matchLaunchVariables(const proc::ProcessStatus& process) const;
    std::optional<ApplicationMatch> matchUnit(const proc::ProcessStatus& process,
                                              const CgroupLeafReader& cgroupLeaf) const;

    DesktopEntryCatalogue& catalogue;
};

}  // namespace platform
