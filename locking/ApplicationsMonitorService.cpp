// The applications monitor: launch and termination notifications and the running-list observation
// of the workspace, turned into entities and callbacks on the main thread.
#include "locking/ApplicationsMonitorService.h"

#include <limits>

#include "platform/PairProtocol.h"

namespace {

const QString runningApplicationsKeyPath = QStringLiteral("runningApplications");

// Calls a copy, so that a callback may reassign itself while it runs.
void raise(const std::function<void(const ApplicationEntity&)>& callback,
           const ApplicationEntity& entity) {
    if (const auto call = callback)
        call(entity);
}

}  // namespace

ApplicationsMonitorService::~ApplicationsMonitorService() {
    stopService();
}

void ApplicationsMonitorService::startService() {
    using platform::WorkspaceNotification;
    auto& workspace = platform::Workspace::shared();
    registrations.push_back(
        workspace.observeRunningApplications([this](const platform::RunningApplicationsChange& c) {
            observeValueForKeyPath(runningApplicationsKeyPath, c);
        }));
    registrations.push_back(workspace.addObserver(
        WorkspaceNotification::willLaunchApplication,
        [this](const platform::WorkspaceNotificationInfo& n) { applicationWillStart(n); }));
    registrations.push_back(workspace.addObserver(
        WorkspaceNotification::didLaunchApplication,
        [this](const platform::WorkspaceNotificationInfo& n) { applicationDidStart(n); }));
    registrations.push_back(workspace.addObserver(
        WorkspaceNotification::didTerminateApplication,
        [this](const platform::WorkspaceNotificationInfo& n) { applicationTerminated(n); }));
    workspace.setPromptEndReports([this](const platform::RunningApplication& application) {
        const auto wanted = needsPromptEndReport;
        return wanted && wanted(ApplicationEntity::fromRunningApplication(application));
    });
}

void ApplicationsMonitorService::stopService() {
    if (registrations.empty())
        return;
    auto& workspace = platform::Workspace::shared();
    for (const platform::Workspace::ObserverId id : registrations)
        workspace.removeObserver(id);
    registrations.clear();
    workspace.setPromptEndReports({});
}

void ApplicationsMonitorService::applicationWillStart(
    const platform::WorkspaceNotificationInfo& notification) {
    reportLaunch(notification, onApplicationWillStart);
}

void ApplicationsMonitorService::applicationDidStart(
    const platform::WorkspaceNotificationInfo& notification) {
    reportLaunch(notification, onApplicationDidStart);
}

void ApplicationsMonitorService::reportLaunch(
    const platform::WorkspaceNotificationInfo& notification,
    const std::function<void(const ApplicationEntity&)>& callback) {
    if (!notification.processIdentifier)
        return;
    const std::int64_t pid = *notification.processIdentifier;
    // A value that does not fit a process id names no process; truncating it could name another.
    if (pid <= 0 || pid > std::numeric_limits<pid_t>::max())
        return;
    // The notification carries the instance it reports; looking it up again only costs time on
    // the way to the lock. Without one, the pid names it.
    std::optional<platform::RunningApplication> application = notification.application;
    if (!application || application->processIdentifier != static_cast<pid_t>(pid))
        application = platform::Workspace::shared().runningApplicationWithProcessIdentifier(
            static_cast<pid_t>(pid));
    if (!application)
        return;
    raise(callback, ApplicationEntity::fromRunningApplication(*application));
}

void ApplicationsMonitorService::applicationTerminated(
    const platform::WorkspaceNotificationInfo& notification) {
    if (!notification.application)
        return;
    raise(onApplicationTerminated,
          ApplicationEntity::fromRunningApplication(*notification.application));
}

void ApplicationsMonitorService::observeValueForKeyPath(
    const QString& keyPath, const platform::RunningApplicationsChange& change) {
    if (keyPath != runningApplicationsKeyPath)
        return;
    // Regular applications are reported by the notifications; this channel covers the rest.
    const auto passesPolicy = [](const platform::RunningApplication& application) {
        return application.activationPolicy != platform::ActivationPolicy::regular;
    };
    if (!change.added.empty() && passesPolicy(change.added.front())) {
        const ApplicationEntity entity =
            ApplicationEntity::fromRunningApplication(change.added.front());
        raise(onApplicationWillStart, entity);
        raise(onApplicationDidStart, entity);
    }
    if (!change.removed.empty() && passesPolicy(change.removed.front())) {
        const ApplicationEntity entity =
            ApplicationEntity::fromRunningApplication(change.removed.front());
        if (entity.bundleIdentifier == platform::PairProtocol::HELPER_BUNDLE_ID) {
            if (const auto call = onHelperTerminated)
                call();
        }
        raise(onApplicationTerminated, entity);
    }
}
