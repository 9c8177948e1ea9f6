// Keeps the session user's application instances up to date from /proc: launches are seen through
// inotify IN_OPEN on the applications' executables, the exits of the instances whose end matters
// at once through pidfds, with a slow sweep of /proc for the rest and as a safety net. Lives on the
// main thread; the instance list may be read from any thread.
#pragma once

#include <sys/types.h>

#include <QObject>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "platform/Workspace.h"
#include "platform/linux/ApplicationMatcher.h"
#include "platform/linux/DesktopEntryCatalogue.h"
#include "platform/linux/DisplaySession.h"
#include "platform/linux/ProcReader.h"
#include "platform/linux/UniqueFd.h"

namespace platform {

class ProcessWatcher : public QObject {
  public:
    // Stays the same for an instance while its processes come and go.
    using InstanceKey = std::uint64_t;
    using InstanceHandler = std::function<void(InstanceKey, const RunningApplication&)>;

    // `extraPrograms`: executables outside the catalogue whose launch matters (our own bundles).
    ProcessWatcher(DesktopEntryCatalogue& catalogue, QStringList extraPrograms);
    ~ProcessWatcher() override;

    // Reads the processes already running (without reporting them) and starts watching.
    void start();

    // Raised on the main thread; unset handlers do nothing.
    InstanceHandler onInstanceStarted;
    InstanceHandler onInstanceEnded;
    // An instance gained claims of other applications (from a window it opened).
    InstanceHandler onInstanceClaimsChanged;
    // A scan read new processes (or a process's new image), any of which may be about to connect to
    // the display. Raised while scanning: it must not ask for a scan.
    std::function<void()> onProcessesAppeared;
    // Whether an instance's end must be reported at once (a locked application's run): such an
    // instance has a pidfd on its topmost process; the others' ends are noticed by the next scan,
    // so that the descriptors used do not grow with the processes of any program a user names.
    // Our own bundles' instances always have one. Asked again at each sweep; unset: no other.
    std::function<bool(const RunningApplication&)> needsPromptEndReport;

    // Thread-safe snapshots.
    std::vector<RunningApplication> instances() const;
    // The instance that the process is one of the processes of.
    std::optional<RunningApplication> instanceWithProcess(pid_t pid) const;

    // Main thread: the instance a process belongs to, itself or through its nearest ancestor (the
    // owner of a window may be a helper the application started). Scans when the pid is new.
    std::optional<InstanceKey> instanceOwning(pid_t pid);
    std::optional<RunningApplication> application(InstanceKey key) const;

    // Main thread: reads new and changed processes now. A quick scan, on the way to a lock after
    // an executable was opened, reads new processes and looks for an exec only in those seen
    // within the last second (the one whose exec opened the file is among them); a full scan
    // looks at every process of the user.
    enum class ScanDepth { full, quick };
    void scanNow(ScanDepth depth = ScanDepth::full);
    // Scans now and a few more times over the next 100 ms, as an exec completes.
    void scanSoon();
    // Follows a rebuilt catalogue: new programs to watch, processes that may match now.
    void catalogueMayHaveChanged();
    // Main thread: a window of the process declares these applications, the best first. A process
    // that belongs to no application yet becomes an instance of the first (a copy of a binary, a
    // run through the dynamic loader, a server); one that does is claimed by the others too.
    // Windows are on this display, so no session test applies.
    void attributeWindow(pid_t pid, const QStringList& identifiers);

    // The programs whose every run is the application, for the system guard to hold: a shell or an
    // interpreter that an entry runs a script with is left out, or every script would be held.
    QStringList lockablePrograms(const QString& identifier) const;
    // The application that a process about to run `program` (its exec held by the guard) will be.
    std::optional<RunningApplication> applicationOfLaunch(pid_t pid, unsigned long long startTime,
                                                          const QString& program) const;

  private:
    struct Instance {
        RunningApplication application;
        std::set<pid_t> members;
        pid_t processGroup = 0;
    };
    struct NotifierDeleter {
        void operator()(QSocketNotifier* notifier) const;
    };
    struct Record {
        proc::ProcessStatus status;
        std::chrono::steady_clock::time_point seen;  // when this image was first read
        std::optional<QString> cgroupLeaf;
        InstanceKey instance = 0;  // 0: not an application
    };
    // The pidfd on the topmost process of an instance whose end is reported at once.
    struct ExitWatch {
        pid_t pid = 0;
        UniqueFd pidfd;
        std::unique_ptr<QSocketNotifier, NotifierDeleter> notifier;
    };
    struct PendingReport {
        enum Kind { started, ended, claimsChanged } kind;
        InstanceKey key;
        RunningApplication application;
    };

    void scanProcesses(ScanDepth depth);
    void addProcess(const proc::ProcessStatus& status);
    void matchProcess(pid_t pid);
    // Adds the claims the instance lacks and marks it for a report; true when any was new.
    bool addClaims(InstanceKey key, const QStringList& identifiers);
    void claimTerminalHolder(pid_t shell);
    void releaseTerminalHolder(pid_t shell);
    void addInstance(pid_t pid, const ApplicationMatch& match);
    bool belongsToThisSession(pid_t pid) const;
    void removeProcess(pid_t pid);
    std::optional<InstanceKey> instanceFor(pid_t pid, const QString& identifier);
    bool parentIsReaper(pid_t parent) const;
    void join(InstanceKey key, pid_t pid);
    void updateExitWatch(InstanceKey key);
    void updateExitWatches();
    bool wantsExitWatch(const RunningApplication& application) const;
    void processExited(pid_t pid, unsigned long long startTime);
    void settle();
    void report(std::vector<PendingReport> reports);
    QString cgroupLeafOf(pid_t pid);
    void readLaunchEvents();
    void synchronizeLaunchWatches();
    void rematchUnmatched();
    RunningApplication applicationFor(const ApplicationMatch& match, pid_t pid) const;

    DesktopEntryCatalogue& catalogue;
    ApplicationMatcher matcher;
    QStringList extraPrograms;
    const uid_t user;
    bool started = false;
    bool scanning = false;
    bool rescanRequested = false;
    bool reportChanges = false;
    bool rematchRequested = false;

    std::map<pid_t, Record> records;
    // The login shells (/etc/shells, real paths): one started on a pseudo-terminal that an
    // instance holds makes that instance a terminal while it runs. Watched like programs.
    QStringList shellPrograms;
    std::map<pid_t, InstanceKey> shellsOnHeldTerminals;
    std::map<InstanceKey, ExitWatch> exitWatches;
    mutable std::mutex instancesMutex;  // guards `instances` against the readers on other threads
    std::map<InstanceKey, Instance> instancesByKey;
    InstanceKey nextKey = 1;
    std::set<InstanceKey> createdKeys;
    std::set<InstanceKey> touchedKeys;
    std::set<InstanceKey> reclaimedKeys;
    session::SessionMarks ownSession;

    UniqueFd launchWatches;
    std::unique_ptr<QSocketNotifier> launchNotifier;
    std::map<QString, int> watchByProgram;
    bool watchesLost = false;
    quint64 catalogueGeneration = 0;
    QTimer sweepTimer;
    unsigned sweepCount = 0;
    QTimer retryTimer;
    int retryStep = 0;
};

}  // namespace platform
