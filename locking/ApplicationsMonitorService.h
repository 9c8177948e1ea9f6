// Turns what the workspace reports about other applications into four callbacks: an application
// will start, did start, has terminated, and Corvane has terminated.
#pragma once

#include <QString>
#include <functional>
#include <vector>

#include "core/ApplicationEntity.h"
#include "platform/Workspace.h"

// Two channels: the workspace's launch and termination notifications (regular applications) and
// the observation of its running list (only agents and background-only programs, Corvane among
// them). It keeps no memory of what it reported.
class ApplicationsMonitorService {
  public:
    ApplicationsMonitorService() = default;
    // Stops the service: a registration left behind would call into a destroyed monitor.
    ~ApplicationsMonitorService();
    ApplicationsMonitorService(const ApplicationsMonitorService&) = delete;
    ApplicationsMonitorService& operator=(const ApplicationsMonitorService&) = delete;

    // Unset callbacks are skipped silently; they may be reassigned at any time.
    std::function<void(const ApplicationEntity&)> onApplicationWillStart;
    std::function<void(const ApplicationEntity&)> onApplicationDidStart;
    std::function<void(const ApplicationEntity&)> onApplicationTerminated;
    std::function<void()> onHelperTerminated;
    // Whether the end of an application's run must be reported at once (a locked application's);
    // the workspace follows the others' ends more cheaply, within seconds. Unset: none.
    std::function<bool(const ApplicationEntity&)> needsPromptEndReport;

    // Registers the running-list observation and the three notifications. Each call registers
    // again, so call it once, and again only after `stopService`.
    void startService();
    // Removes every registration; afterwards no callback is raised.
    void stopService();

    // The notification handlers.
    void applicationWillStart(const platform::WorkspaceNotificationInfo& notification);
    void applicationDidStart(const platform::WorkspaceNotificationInfo& notification);
    void applicationTerminated(const platform::WorkspaceNotificationInfo& notification);
    // The running-list observation handler; changes of any other key path are ignored.
    void observeValueForKeyPath(const QString& keyPath,
                                const platform::RunningApplicationsChange& change);

  private:
    void reportLaunch(const platform::WorkspaceNotificationInfo& notification,
                      const std::function<void(const ApplicationEntity&)>& callback);

    std::vector<platform::Workspace::ObserverId> registrations;
};
