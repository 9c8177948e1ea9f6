// The catalogue questions about the applications on the machine: which installed and which running
// applications may be locked, the administrative tools, whether an application runs, bringing one
// to the front and starting Corvane.
#pragma once

#include <QString>
#include <optional>
#include <vector>

#include "core/ApplicationEntity.h"
#include "platform/Workspace.h"

// Stateless: every answer is computed afresh from the workspace, so owners create it freely.
class SystemApplicationsService {
  public:
    // The lockable applications of every application folder of the workspace, each identifier
    // once (the folder that comes first wins, as the XDG precedence asks), sorted by lower-cased
    // name.
    std::vector<ApplicationEntity> lockableApplications() const;
    // The running instances that `isLockableApplication` accepts, sorted by lower-cased name.
    std::vector<ApplicationEntity> lockableRunningApplications() const;
    // The lockable applications found by a depth-first scan of the folder, in listing order; not
    // sorted. Symbolic-link cycles are followed once and the depth is bounded.
    std::vector<ApplicationEntity> getLockableApplicationsFrom(const QString& path) const;
    // The installed terminals, then keyring managers, then system monitors.
    std::vector<ApplicationEntity> administrativeApplications() const;

    // Rule for scanned applications: white-listed, else not banned.
    bool isLockableApplicationEntity(const ApplicationEntity& entity) const;
    // Rule for running applications: white-listed, else not background-only, named, located, not
    // banned and not a system program.
    bool isLockableApplication(const platform::RunningApplication& runningApp) const;

    // The workspace's running instances, unfiltered.
    std::vector<platform::RunningApplication> runningNSApplications() const;
    // The first running instance with that identifier, or none.
    std::optional<ApplicationEntity> applicationIsRunning(const QString& id) const;
    // Brings the first running instance with that identifier to the front; nothing when none runs.
    void focusOnApplication(const QString& id) const;
    // Launches Corvane from inside our own bundle with {"StartFromMaster": "1"}; failures are
    // dropped (the central service restarts Corvane whenever it sees it end).
    void startHelperApplication() const;

  private:
    void scanFolder(const QString& path, int depth, std::vector<QString>& visited,
                    std::vector<ApplicationEntity>& found) const;
};
