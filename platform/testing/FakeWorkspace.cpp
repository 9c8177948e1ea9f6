// The in-memory workspace of the unit tests.
#include "platform/testing/FakeWorkspace.h"

namespace platform::testing {

void FakeWorkspace::installApplication(const QString& path, const BundleInfo& info) {
    pathsByIdentifier[info.identifier] = path;
    dictionaries[path] = info;
}

void FakeWorkspace::post(WorkspaceNotification name, const WorkspaceNotificationInfo& info) {
    notificationObservers.notify(name, info);
}

void FakeWorkspace::changeRunningApplications(const RunningApplicationsChange& change) {
    listObservers.notify(change);
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
    return notificationObservers.add(
        [name, handler = std::move(handler)](WorkspaceNotification posted,
                                             const WorkspaceNotificationInfo& info) {
            if (posted == name && handler)
                handler(info);
        });
}

Workspace::ObserverId FakeWorkspace::observeRunningApplications(
    RunningApplicationsHandler handler) {
    return listObservers.add(std::move(handler));
}

void FakeWorkspace::removeObserver(ObserverId id) {
    notificationObservers.remove(id);
    listObservers.remove(id);
}

}  // namespace platform::testing

namespace platform::testing {

QStringList FakeWorkspace::lockablePrograms(const QString& identifier) {
    const auto path = pathsByIdentifier.find(identifier);
    if (path == pathsByIdentifier.end() || !dictionaries.count(path->second))
        return {};
    return {QStringLiteral("/usr/bin/") + dictionaries.at(path->second).executable};
}

std::optional<RunningApplication> FakeWorkspace::applicationOfLaunch(pid_t pid,
                                                                     unsigned long long startTime,
                                                                     const QString& program) {
    for (const auto& [identifier, path] : pathsByIdentifier) {
        if (!lockablePrograms(identifier).contains(program))
            continue;
        RunningApplication application;
        application.processIdentifier = pid;
        application.processStartTime = startTime;
        application.bundleIdentifier = identifier;
        application.localizedName = dictionaries.at(path).name;
        application.executablePath = program;
        return application;
    }
    return std::nullopt;
}

}  // namespace platform::testing
