// The desktop seen as a workspace: the installed applications (desktop entries and our own .app
// bundles), the running application instances, their launch, termination and activation
// notifications, activating an instance and launching a bundle.
#pragma once

#include <sys/types.h>

#include <QIcon>
#include <QMap>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/Installable.h"
#include "platform/MainBundle.h"

namespace platform {

// A launch configuration's entry KEY reaches the launched program as this prefix followed by KEY.
inline const QString launchVariablePrefix = QStringLiteral("VAULTINE_LAUNCH_");

enum class ActivationPolicy { regular = 0, accessory = 1, prohibited = 2 };

// One running application instance: the topmost process of an application in its parent chain.
struct RunningApplication {
    pid_t processIdentifier = 0;
    QString localizedName;     // empty when unknown
    QString bundleIdentifier;  // empty when unknown
    QIcon icon;                // null when none
    ActivationPolicy activationPolicy = ActivationPolicy::regular;
    QString executablePath;  // real path of the executable; empty when unknown
    QString bundlePath;      // the desktop entry or .app bundle it belongs to; empty when unknown
    // The other applications that claim the instance (another entry naming the same program, a
    // window declaring another application): it is theirs as much as `bundleIdentifier`'s.
    QStringList otherBundleIdentifiers;
    // When its topmost process started (clock ticks after boot); with the process id it names one
    // run of the application, also for a restarted Vaultine. 0 when unknown.
    unsigned long long processStartTime = 0;

    // The claim an instance gets while a shell runs on a pseudo-terminal it holds (an editor's
    // terminal tab, a file manager's terminal panel): an administrative tool while it lasts.
    static inline const QString EMBEDDED_TERMINAL_IDENTIFIER =
        QStringLiteral("org.vaultine.EmbeddedTerminal");

    bool isClaimedBy(const QString& identifier) const {
        return bundleIdentifier == identifier || otherBundleIdentifiers.contains(identifier);
    }
};

enum class WorkspaceNotification {
    willLaunchApplication,     // a new regular instance was seen; carries its process id
    didLaunchApplication,      // its first window mapped (or 1 s passed); carries its process id
    didTerminateApplication,   // a regular instance is gone; carries the application
    didActivateApplication,    // an instance became active; carries the application
    didDeactivateApplication,  // an instance stopped being active; carries the application
};

// What a notification carries; each entry may be absent.
struct WorkspaceNotificationInfo {
    std::optional<std::int64_t> processIdentifier;  // "NSApplicationProcessIdentifier"
    std::optional<RunningApplication> application;  // "NSWorkspaceApplicationKey"
};

// One change of the running-application list: the instances that appeared and those that ended.
struct RunningApplicationsChange {
    std::vector<RunningApplication> added;    // the "new" values
    std::vector<RunningApplication> removed;  // the "old" values
};

class Workspace : public Installable<Workspace> {
  public:
    using ObserverId = std::uint64_t;
    using NotificationHandler = std::function<void(const WorkspaceNotificationInfo&)>;
    using RunningApplicationsHandler = std::function<void(const RunningApplicationsChange&)>;

    virtual ~Workspace() = default;

    // The Linux workspace (platform/linux).
    static std::unique_ptr<Workspace> createDefault();

    // Installed applications.
    // The application folders to scan, in XDG precedence order (the user's first).
    virtual QStringList applicationFolders() = 0;
    // The path of the desktop entry (or our own .app bundle) with that identifier; empty if none.
    virtual QString absolutePathForAppBundleWithIdentifier(const QString& identifier) = 0;
    // The information dictionary of a desktop entry (identifier = desktop-file ID without
    // ".desktop", name = localized Name, executable = program of Exec) or of an .app bundle
    // (Info.json). None when it cannot be read, or is Hidden, NoDisplay or not an application.
    virtual std::optional<BundleInfo> infoDictionaryForApplicationAtPath(const QString& path) = 0;
    // The icon of an application's entry or bundle through the icon theme; null when none.
    virtual QIcon iconForFile(const QString& path) = 0;

    // Running applications.
    virtual std::vector<RunningApplication> runningApplications() = 0;
    virtual std::optional<RunningApplication> runningApplicationWithProcessIdentifier(
        pid_t pid) = 0;
    // The instances that the identifier claims, as their own or as another application's.
    virtual std::vector<RunningApplication> runningApplicationsWithBundleIdentifier(
        const QString& identifier) = 0;
    // Brings the instance's top-level window to the front; false when it has none.
    virtual bool activate(const RunningApplication& application) = 0;
    // Starts the .app bundle's executable detached, each configuration entry as the environment
    // variable VAULTINE_LAUNCH_<KEY>; nothing starts when an instance of the bundle already runs.
    // False when the bundle cannot be read or started.
    virtual bool launchApplication(const QString& bundlePath,
                                   const QMap<QString, QString>& configuration) = 0;

    // Keeps a just-launched instance from running (and from mapping a window) until
    // `releaseLaunch`. `untilLockShown`: so that its lock is on screen first; the hold ends by
    // itself after at most 200 ms. `untilReleased` (the gate): until the password, and it survives
    // this program: a run that may already show a window is never held so (a Wayland client
    // stopped with a window shown loses its connection). `releaseAllLaunchHolds` continues every
    // process held by this program or left held by a predecessor that was killed;
    // `takeOverLaunchHolds` instead keeps a predecessor's holds as this program's, until released,
    // and names them. Nothing is held by default.
    // `startTime` (clock ticks after boot, 0 for any) tells the process from a later one.
    enum class LaunchHold { untilLockShown, untilReleased };
    virtual void holdLaunch(pid_t, unsigned long long /*startTime*/,
                            LaunchHold /*until*/ = LaunchHold::untilLockShown) {}
    virtual void releaseLaunch(pid_t) {}
    virtual void releaseAllLaunchHolds() {}
    virtual std::vector<std::pair<pid_t, unsigned long long>> takeOverLaunchHolds() { return {}; }
    // Whether this program holds the run now: a hold it took, or a predecessor's it took over.
    virtual bool holdsLaunch(pid_t, unsigned long long /*startTime*/) { return false; }
    // Ends a run for good: the process and every process it started, held or not (killed, and a
    // stopped one continued so that it dies). False when any of them could not be signalled.
    virtual bool endRun(pid_t, unsigned long long /*startTime*/) { return false; }

    // For the system guard: the programs whose every run is the application (none by default),
    // and the application a process whose exec of `program` the guard holds will be.
    virtual QStringList lockablePrograms(const QString& /*identifier*/) { return {}; }
    virtual std::optional<RunningApplication> applicationOfLaunch(pid_t /*pid*/,
                                                                  unsigned long long /*startTime*/,
                                                                  const QString& /*program*/) {
        return std::nullopt;
    }

    // Which runs' ends are reported at once (a locked application's, set by the locking layer);
    // the others' ends are reported within seconds, so that following them costs nothing per
    // process. Our own bundles' runs are always reported at once. Unset: only those.
    virtual void setPromptEndReports(std::function<bool(const RunningApplication&)> /*wanted*/) {}

    // Notifications and the observation of the running list, delivered on the main thread.
    virtual ObserverId addObserver(WorkspaceNotification name, NotificationHandler handler) = 0;
    virtual ObserverId observeRunningApplications(RunningApplicationsHandler handler) = 0;
    // Removes a registration of either kind; unknown ids are ignored.
    virtual void removeObserver(ObserverId id) = 0;
};

}  // namespace platform
