// The in-memory workspace of the unit tests.
#include "platform/testing/FakeWorkspace.h"

namespace platform::testing {

void FakeWorkspace::installApplication(const QString& path, const BundleInfo& info) {
    pathsByIdentifier[info.identifier] = path;
    dictionaries[path] = info;
}

void FakeWorkspace::post(WorkspaceNotification name, const WorkspaceNotificationInfo& info) {
    // Copy first: a handler may add or remove observers.
    const auto observers = notificationObservers;
    for (const auto& [id, registration] : observers) {
        if (registration.first == name && notificationObservers.count(id))
            registration.second(info);
    }
}

void FakeWorkspace::changeRunningApplications(const RunningApplicationsChange& change) {
    const auto observers = listObservers;
    for (const auto& [id, handler] : observers) {
        if (listObservers.count(id))
            handler(change);
    }
}

QString FakeWorkspace::absolutePathForAppBundleWithIdentifier(const QString& identifier) {
    const auto found = pathsByIdentifier.find(identifier);
    return found == pathsByIdentifier.end() ? QString() : found->second;
}

std::optional<BundleInfo> FakeWorkspace::infoDictionaryForApplicationAtPath(const QString& path) {
    const auto found = dictionaries.find(path);
    if (found == dictionaries.end())
        return std::nullopt;
    return found->second;
}

std::optional<RunningApplication> FakeWorkspace::runningApplicationWithProcessIdentifier(
    pid_t pid) {
    for (const auto& application : running) {
        if (application.processIdentifier == pid)
            return application;
    }
    return std::nullopt;
}

std::vector<RunningApplication> FakeWorkspace::runningApplicationsWithBundleIdentifier(
    const QString& identifier) {
    std::vector<RunningApplication> matches;
    for (const auto& application : running) {
        if (application.isClaimedBy(identifier))
            matches.push_back(application);
    }
    return matches;
}

bool FakeWorkspace::activate(const RunningApplication& application) {
    activations.push_back(application.processIdentifier);
    return true;
}

bool FakeWorkspace::launchApplication(const QString& bundlePath,
                                      const QMap<QString, QString>& configuration) {
    launches.push_back({bundlePath, configuration});
    return launchSucceeds;
}

Workspace::ObserverId FakeWorkspace::addObserver(WorkspaceNotification name,
                                                 NotificationHandler handler) {
    notificationObservers[nextId] = {name, std::move(handler)};
    return nextId++;
}

Workspace::ObserverId FakeWorkspace::observeRunningApplications(
    RunningApplicationsHandler handler) {
    listObservers[nextId] = std::move(handler);
    return nextId++;
}

void FakeWorkspace::removeObserver(ObserverId id) {
    notificationObservers.erase(id);
    listObservers.erase(id);
}

}  // namespace platform::testing
