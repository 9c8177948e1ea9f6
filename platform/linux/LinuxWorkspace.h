// The Linux workspace: installed applications from the desktop-entry catalogue and our own
// bundles, running instances from the process watcher, window events and activation through EWMH,
// and detached launches of bundles.
#pragma once

#include <QObject>
#include <QProcessEnvironment>
#include <QSocketNotifier>
#include <QTimer>
#include <map>
#include <memory>
#include <optional>

#include "platform/ObserverList.h"
#include "platform/Workspace.h"
#include "platform/linux/DesktopEntryCatalogue.h"
#include "platform/linux/EwmhWindows.h"
#include "platform/linux/LaunchHolds.h"
#include "platform/linux/ProcessWatcher.h"

namespace platform {

// The environment a launched bundle starts with: `inherited` without the variables that describe
// our own launch, plus each configuration entry as VAULTINE_LAUNCH_<KEY>. An entry that could not
// be read back as given (a key that is no variable name, a value holding a NUL) is left out.
QProcessEnvironment launchEnvironment(const QProcessEnvironment& inherited,
                                      const QMap<QString, QString>& configuration);

class LinuxWorkspace : public Workspace {
  public:
    // Watching starts on the main thread (at once when created there, else from its event loop).
    LinuxWorkspace();
    explicit LinuxWorkspace(QStringList applicationFolders);
    ~LinuxWorkspace() override;

    QStringList applicationFolders() override;
    QString absolutePathForAppBundleWithIdentifier(const QString& identifier) override;
    std::optional<BundleInfo> infoDictionaryForApplicationAtPath(const QString& path) override;
    QIcon iconForFile(const QString& path) override;
    std::vector<RunningApplication> runningApplications() override;
    std::optional<RunningApplication> runningApplicationWithProcessIdentifier(pid_t pid) override;
    std::vector<RunningApplication> runningApplicationsWithBundleIdentifier(
        const QString& identifier) override;
    bool activate(const RunningApplication& application) override;
    bool launchApplication(const QString& bundlePath,
                           const QMap<QString, QString>& configuration) override;
    void holdLaunch(pid_t pid, unsigned long long startTime, LaunchHold until) override;
    void releaseLaunch(pid_t pid) override;
    void releaseAllLaunchHolds() override;
    std::vector<std::pair<pid_t, unsigned long long>> takeOverLaunchHolds() override;
    bool holdsLaunch(pid_t pid, unsigned long long startTime) override;
    bool endRun(pid_t pid, unsigned long long startTime) override;
    QStringList lockablePrograms(const QString& identifier) override;
    std::optional<RunningApplication> applicationOfLaunch(pid_t pid, unsigned long long startTime,
                                                          const QString& program) override;
    void setPromptEndReports(std::function<bool(const RunningApplication&)> wanted) override;
    ObserverId addObserver(WorkspaceNotification name, NotificationHandler handler) override;
    ObserverId observeRunningApplications(RunningApplicationsHandler handler) override;
    void removeObserver(ObserverId id) override;

    // Whether window events are available (an X display was reachable).
    bool hasWindowEvents() const { return windows && windows->isConnected(); }
    // New windows attributed to runs: from the X display, and from the GNOME Shell extension,
    // which sees the native Wayland windows no client can.
    void windowsAppeared(const std::vector<WindowIdentity>& identities);

  private:
    using InstanceKey = ProcessWatcher::InstanceKey;

    void startWatching();
    void ensureStarted();
    void instanceStarted(InstanceKey key, const RunningApplication& application);
    void instanceEnded(InstanceKey key, const RunningApplication& application);
    void compareProgramContentLater(pid_t pid, const QString& image);
    void clientsAppeared(const std::vector<pid_t>& processes);
    void attributeToApplications(pid_t process, const QStringList& windowNames);
    void instanceClaimsChanged(const RunningApplication& application);
    void activeWindowChanged(pid_t owner);
    void reportDidLaunch(InstanceKey key);
    bool instanceHasWindow(InstanceKey key);
    void post(WorkspaceNotification name, const WorkspaceNotificationInfo& info);
    void changeRunningApplications(const RunningApplicationsChange& change);
    void catalogueChanged();

    // Shared with the byte comparisons of large programs on the global queue.
    std::shared_ptr<DesktopEntryCatalogue> catalogue;
    // The QObjects below live on the main thread; `context` owns their timers and deferred calls.
    std::unique_ptr<QObject> context;
    std::unique_ptr<ProcessWatcher> watcher;
    std::function<bool(const RunningApplication&)> promptEndReports;
    std::unique_ptr<EwmhWindows> windows;
    std::unique_ptr<QSocketNotifier> catalogueNotifier;
    std::unique_ptr<LaunchHolds> launchHolds;  // main thread only
    std::map<InstanceKey, std::unique_ptr<QTimer>> awaitingDidLaunch;
    std::optional<InstanceKey> activeInstance;
    RunningApplication activeApplication;

    ObserverList<WorkspaceNotification, const WorkspaceNotificationInfo&> notificationObservers;
    ObserverList<const RunningApplicationsChange&> listObservers;
    std::uint64_t launchSerial = 0;
};

}  // namespace platform
