// Keeps the session user's application instances up to date from /proc: launches are seen through
// inotify IN_OPEN on the applications' executables, exits through pidfds, with a slow sweep of
// /proc as a safety net. Lives on the main thread; the instance list may be read from any thread.
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
        UniqueFd pidfd;
        std::unique_ptr<QSocketNotifier, NotifierDeleter> exitNotifier;
    };
    struct PendingReport {
        enum Kind { started, ended, claimsChanged } kind;
        InstanceKey key;
        RunningApplication application;
    };

    void scanProcesses(ScanDepth depth);
    void addProcess(const proc::ProcessStatus& status);
    void matchProcess(pid_t pid);
    void addInstance(pid_t pid, const ApplicationMatch& match);
    bool belongsToThisSession(pid_t pid) const;
    void removeProcess(pid_t pid);
    std::optional<InstanceKey> instanceFor(pid_t pid, const QString& identifier);
    bool parentIsReaper(pid_t parent) const;
    void join(InstanceKey key, pid_t pid);
    void watchExit(Record& record);
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
