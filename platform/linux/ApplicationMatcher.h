// Decides which application a process belongs to, in a fixed order: enclosing .app bundle, flatpak
// sandbox, snap cgroup, the program of a desktop entry, GIO's launch variables, systemd unit.
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
};

class ApplicationMatcher {
  public:
    // Reads (and may cache) the cgroup leaf of a process; the matcher asks for the process's own
    // and, for the systemd-unit rule, its parent's.
    using CgroupLeafReader = std::function<QString(pid_t)>;

    explicit ApplicationMatcher(DesktopEntryCatalogue& catalogue) : catalogue(catalogue) {}

    // First match wins; none for processes that belong to no application.
    std::optional<ApplicationMatch> match(const proc::ProcessStatus& process,
                                          const CgroupLeafReader& cgroupLeaf) const;

  private:
    std::optional<ApplicationMatch> matchBundle(const proc::ProcessStatus& process) const;
    std::optional<ApplicationMatch> matchIdentifier(const QString& identifier,
                                                    const proc::ProcessStatus& process) const;
    std::optional<ApplicationMatch> matchLaunchVariables(const proc::ProcessStatus& process) const;
    std::optional<ApplicationMatch> matchUnit(const proc::ProcessStatus& process,
                                              const CgroupLeafReader& cgroupLeaf) const;

    DesktopEntryCatalogue& catalogue;
};

}  // namespace platform
