// Which runs are locked: a run of a locked application is, unless Vaultine let it be (the password
// released it, or it ran when protection started or while protection was off).
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "core/ApplicationEntity.h"
#include "locking/KnownInstancesService.h"
#include "locking/SystemApplicationsService.h"

// The runs let be are stored (KnownInstancesService) so that a restarted Vaultine tells them from
// the runs that began while it was down. All on the main thread.
class LockedRuns {
  public:
    using Instance = KnownInstancesService::Instance;
    using Instances = KnownInstancesService::Instances;

    // `monitored`: the applications to lock, as the owner last loaded them.
    LockedRuns(const std::vector<ApplicationEntity>& monitored,
               const SystemApplicationsService& system);
    ~LockedRuns();

    static Instance runOf(const ApplicationEntity& entity);
    // Whether the two name a common application (any of their identifiers).
    static bool sharesIdentifier(const ApplicationEntity& left, const ApplicationEntity& right);

    // A run is locked when any application that claims it is: the one it is shown as, or another
    // entry naming the same program, or the application one of its windows declares.
    bool isMonitored(const ApplicationEntity& entity) const;
    bool isMonitoredIdentifier(const QString& identifier) const;

    // The run was let be: it goes on without a lock.
    bool isKnown(const ApplicationEntity& run) const { return knownRuns.count(runOf(run)) > 0; }
    bool isKnown(const Instance& run) const { return knownRuns.count(run) > 0; }
    void letBe(const ApplicationEntity& run);
    // The password released this run in this process: unlike the stored list, which the user can
    // write, it may be told released to the system guard.
    bool releasedByPassword(const Instance& run) const { return passwordReleased.count(run) > 0; }

    // The runs of locked applications running now that the last Vaultine did not know of began
    // while it was down: they are returned, to be locked; every other is let be. Quit stores
    // "everything known". Without a readable list nothing is known, unless the password was set up
    // in this process (`setUpHere`): a deleted or broken defaults file never lets a run be. While
    // protection is off (`active` false) every run is let be.
    std::vector<ApplicationEntity> findRunsStartedWhileDown(bool active, bool setUpHere);

    // Every run of the application there is now, the servers that work for it and the runs the
    // system guard holds for it included.
    Instances currentRunsOf(const ApplicationEntity& entity) const;
    // The password releases every run of the application: they are let be, and returned.
    Instances releaseRunsOf(const ApplicationEntity& entity);
    // The run ended: it is forgotten.
    void forget(const ApplicationEntity& run);

    // On the gate, the runs the system guard holds for their lock, until the password or a close:
    // the workspace may not list a run whose exec the guard keeps waiting.
    void noteHeldByGuard(const ApplicationEntity& run) { guardHeldRuns.push_back(run); }
    void forgetHeldByGuard(const Instances& runs);
    bool heldByGuard(const Instance& run) const;

    // Nothing of the application runs any more.
    bool nothingLeftOf(const ApplicationEntity& entity) const;

  private:
    // Keeps only the runs that still exist, so that the list stays as short as what runs.
    void saveKnownRuns();

    const std::vector<ApplicationEntity>& monitored;
    const SystemApplicationsService& system;
    KnownInstancesService knownInstancesService;
    Instances knownRuns;
    Instances passwordReleased;
    std::vector<ApplicationEntity> guardHeldRuns;
};
