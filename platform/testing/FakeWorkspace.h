// An in-memory workspace for unit tests: installed applications and running instances are set by
// the test, notifications and running-list changes are raised by the test, launches and
// activations are recorded.
#pragma once

#include <map>
#include <set>
#include <utility>
#include <vector>

#include "platform/ObserverList.h"
#include "platform/Workspace.h"

namespace platform::testing {

class FakeWorkspace : public Workspace {
  public:
    struct Launch {
        QString bundlePath;
        QMap<QString, QString> configuration;
    };

    // Installs an application: its identifier resolves to `path`, whose dictionary is `info`.
    void installApplication(const QString& path, const BundleInfo& info);
    // Makes a path readable as a dictionary without registering its identifier for lookup.
    void addDictionary(const QString& path, const BundleInfo& info) { dictionaries[path] = info; }

    std::vector<RunningApplication> running;
    QStringList folders;
    std::vector<Launch> launches;
    std::vector<pid_t> activations;
    // "hold PID", "gate PID" (until released), "release PID", "release all", "take over" and
    // "end PID", in the order asked.
    QStringList holdRequests;
    // The holds a killed predecessor left, which `takeOverLaunchHolds` names.
    std::vector<std::pair<pid_t, unsigned long long>> leftHeld;
    // The processes held now; those in `showingWindows` are never held until released, as a
    // process that may show a window already is not.
    std::set<pid_t> held;
    std::set<pid_t> showingWindows;
    bool launchSucceeds = true;

    // Raises a notification to its observers, as the platform would on the main thread.
    void post(WorkspaceNotification name, const WorkspaceNotificationInfo& info);
    // Raises a running-list change to its observers.
    void changeRunningApplications(const RunningApplicationsChange& change);
    std::size_t observerCount() const {
        return notificationObservers.size() + listObservers.size();
    }

    QStringList applicationFolders() override { return folders; }
    QString absolutePathForAppBundleWithIdentifier(const QString& identifier) override;
    std::optional<BundleInfo> infoDictionaryForApplicationAtPath(const QString& path) override;
    QIcon iconForFile(const QString&) override { return {}; }
    std::vector<RunningApplication> runningApplications() override { return running; }
    std::optional<RunningApplication> runningApplicationWithProcessIdentifier(pid_t pid) override;
    std::vector<RunningApplication> runningApplicationsWithBundleIdentifier(
        const QString& identifier) override;
    bool activate(const RunningApplication& application) override;
    bool launchApplication(const QString& bundlePath,
                           const QMap<QString, QString>& configuration) override;
    void holdLaunch(pid_t pid, unsigned long long, LaunchHold until) override {
        holdRequests.append((until == LaunchHold::untilReleased ? QStringLiteral("gate %1")
                                                                : QStringLiteral("hold %1"))
                                .arg(pid));
        if (until == LaunchHold::untilLockShown || !showingWindows.count(pid))
            held.insert(pid);
    }
    void releaseLaunch(pid_t pid) override {
        holdRequests.append(QStringLiteral("release %1").arg(pid));
        held.erase(pid);
    }
    bool holdsLaunch(pid_t pid, unsigned long long) override { return held.count(pid) > 0; }
    void releaseAllLaunchHolds() override {
        holdRequests.append(QStringLiteral("release all"));
        held.clear();
    }
    std::vector<std::pair<pid_t, unsigned long long>> takeOverLaunchHolds() override {
        holdRequests.append(QStringLiteral("take over"));
        for (const auto& [pid, startTime] : leftHeld)
            held.insert(pid);
        return leftHeld;
    }
    bool endRun(pid_t pid, unsigned long long) override {
        holdRequests.append(QStringLiteral("end %1").arg(pid));
        held.erase(pid);
        return true;
    }
    // An installed application's program is /usr/bin/ and its dictionary's executable.
    QStringList lockablePrograms(const QString& identifier) override;
    std::optional<RunningApplication> applicationOfLaunch(pid_t pid, unsigned long long startTime,
                                                          const QString& program) override;
    ObserverId addObserver(WorkspaceNotification name, NotificationHandler handler) override;
    ObserverId observeRunningApplications(RunningApplicationsHandler handler) override;
    void removeObserver(ObserverId id) override;

  private:
    std::map<QString, QString> pathsByIdentifier;
    std::map<QString, BundleInfo> dictionaries;
    ObserverList<WorkspaceNotification, const WorkspaceNotificationInfo&> notificationObservers;
    ObserverList<const RunningApplicationsChange&> listObservers;
};

}  // namespace platform::testing
