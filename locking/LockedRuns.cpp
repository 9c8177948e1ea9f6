// The runs let be, kept and stored; the runs of an application and whether any is left.
#include "locking/LockedRuns.h"

#include <algorithm>

#include "platform/Workspace.h"

LockedRuns::LockedRuns(const std::vector<ApplicationEntity>& monitored,
                       const SystemApplicationsService& system)
    : monitored(monitored), system(system) {}

LockedRuns::~LockedRuns() = default;

LockedRuns::Instance LockedRuns::runOf(const ApplicationEntity& entity) {
    return {entity.processIdentifier, entity.processStartTime};
}

bool LockedRuns::sharesIdentifier(const ApplicationEntity& left, const ApplicationEntity& right) {
    const QStringList ours = left.identifiers();
    const QStringList theirs = right.identifiers();
    return std::any_of(theirs.begin(), theirs.end(),
                       [&](const QString& identifier) { return ours.contains(identifier); });
}

bool LockedRuns::isMonitoredIdentifier(const QString& identifier) const {
    return std::any_of(monitored.begin(), monitored.end(), [&](const ApplicationEntity& entity) {
        return entity.bundleIdentifier == identifier;
    });
}

bool LockedRuns::isMonitored(const ApplicationEntity& entity) const {
    const QStringList identifiers = entity.identifiers();
    return std::any_of(identifiers.begin(), identifiers.end(), [this](const QString& identifier) {
        return isMonitoredIdentifier(identifier);
    });
}

void LockedRuns::letBe(const ApplicationEntity& run) {
    knownRuns.insert(runOf(run));
    saveKnownRuns();
}

std::vector<ApplicationEntity> LockedRuns::findRunsStartedWhileDown(bool active, bool setUpHere) {
    const std::optional<Instances> stored = knownInstancesService.storedInstances();
    std::vector<ApplicationEntity> startedWhileDown;
    for (const platform::RunningApplication& application : system.runningNSApplications()) {
        const ApplicationEntity entity = ApplicationEntity::fromRunningApplication(application);
        if (!isMonitored(entity))
            continue;
        const Instance run = runOf(entity);
        const bool known =
            stored ? stored->count(run) || stored->count(KnownInstancesService::everything)
                   : setUpHere;
        if (known || !active)
            knownRuns.insert(run);
        else
            startedWhileDown.push_back(entity);
    }
    saveKnownRuns();
    return startedWhileDown;
}

void LockedRuns::saveKnownRuns() {
    Instances running;
    for (const platform::RunningApplication& application : system.runningNSApplications()) {
        const Instance run{application.processIdentifier, application.processStartTime};
        if (knownRuns.count(run))
            running.insert(run);
    }
    knownRuns = std::move(running);
    std::erase_if(passwordReleased, [this](const Instance& run) { return !knownRuns.count(run); });
    knownInstancesService.storeInstances(knownRuns);
}

LockedRuns::Instances LockedRuns::currentRunsOf(const ApplicationEntity& entity) const {
    Instances runs;
    if (entity.processIdentifier)
        runs.insert(runOf(entity));
    for (const QString& identifier : entity.identifiers()) {
        for (const platform::RunningApplication& application :
             platform::Workspace::shared().runningApplicationsWithBundleIdentifier(identifier))
            runs.insert({application.processIdentifier, application.processStartTime});
    }
    for (const ApplicationEntity& held : guardHeldRuns) {
        if (sharesIdentifier(entity, held))
            runs.insert(runOf(held));
    }
    return runs;
}

LockedRuns::Instances LockedRuns::releaseRunsOf(const ApplicationEntity& entity) {
    const Instances released = currentRunsOf(entity);
    forgetHeldByGuard(released);
    knownRuns.insert(released.begin(), released.end());
    passwordReleased.insert(released.begin(), released.end());
    saveKnownRuns();
    return released;
}

void LockedRuns::forget(const ApplicationEntity& run) {
    if (knownRuns.erase(runOf(run)))
        saveKnownRuns();
    forgetHeldByGuard({runOf(run)});
}

void LockedRuns::forgetHeldByGuard(const Instances& runs) {
    std::erase_if(guardHeldRuns,
                  [&runs](const ApplicationEntity& held) { return runs.count(runOf(held)) > 0; });
}

bool LockedRuns::heldByGuard(const Instance& run) const {
    return std::any_of(guardHeldRuns.begin(), guardHeldRuns.end(),
                       [&run](const ApplicationEntity& held) { return runOf(held) == run; });
}

bool LockedRuns::nothingLeftOf(const ApplicationEntity& entity) const {
    const QStringList identifiers = entity.identifiers();
    return std::none_of(identifiers.begin(), identifiers.end(), [this](const QString& identifier) {
        return system.applicationIsRunning(identifier).has_value();
    });
}
