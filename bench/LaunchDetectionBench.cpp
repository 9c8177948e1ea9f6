// Measures launch detection: the latency from exec to onApplicationWillStart over repeated
// launches of a test application with its own desktop entry, the share reported before its first
// window maps, and the watcher's CPU time over idle seconds with a few hundred processes running.
//
//   LaunchDetectionBench [launches (100)] [idle seconds (60)] [idle processes (300)]
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "locking/ApplicationsMonitorService.h"
#include "platform/linux/DesktopEntryCatalogue.h"
#include "platform/linux/LinuxWorkspace.h"
#include "platform/linux/ProcReader.h"

extern char** environ;

namespace {

const QString benchIdentifier = QStringLiteral("org.vaultine.bench.Launched");

long long monotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

long long processCpuNanoseconds() {
    timespec used{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return used.tv_sec * 1000000000LL + used.tv_nsec;
}

// Runs the event loop for a while with nothing else waking it.
void idleFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop (blocked in poll, so events are handled the moment they arrive) until the
// predicate holds or the time is up.
bool runUntil(const std::function<bool()>& predicate, int timeoutMs) {
    if (predicate())
        return true;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (predicate())
            loop.quit();
    });
    check.start(5);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return predicate();
}

pid_t spawn(const QString& program, const std::vector<QByteArray>& arguments) {
    const QByteArray path = QFile::encodeName(program);
    std::vector<char*> argv = {const_cast<char*>(path.constData())};
    for (const QByteArray& argument : arguments)
        argv.push_back(const_cast<char*>(argument.constData()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    return posix_spawn(&pid, path.constData(), nullptr, nullptr, argv.data(), environ) == 0 ? pid
                                                                                            : -1;
}

// The map request times the test application logged, by pid.
std::map<pid_t, long long> readMapLog(const QString& path) {
    std::map<pid_t, long long> times;
    QFile log(path);
    if (!log.open(QIODevice::ReadOnly))
        return times;
    for (const QByteArray& line : log.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 2)
            times[fields[0].toInt()] = fields[1].toLongLong();
    }
    return times;
}

double percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    const std::size_t index =
        std::min(values.size() - 1, static_cast<std::size_t>(share * (values.size() - 1) + 0.5));
    return values[index];
}

struct LaunchFigures {
    std::vector<double> latenciesMs;
    int beforeMap = 0;
    int withWindow = 0;
    int missed = 0;
};

LaunchFigures measureLaunches(const QString& program, const QString& mapLog, int launches,
                              bool windows) {
    ApplicationsMonitorService monitor;
    std::optional<long long> reportedAt;
    bool ended = false;
    monitor.onApplicationWillStart = [&](const ApplicationEntity& entity) {
        if (entity.bundleIdentifier == benchIdentifier)
            reportedAt = monotonicNanoseconds();
    };
    monitor.onApplicationTerminated = [&](const ApplicationEntity& entity) {
        ended = ended || entity.bundleIdentifier == benchIdentifier;
    };
    monitor.startService();
    LaunchFigures figures;
    for (int launch = 0; launch < launches; ++launch) {
        reportedAt.reset();
        ended = false;
        const long long execAt = monotonicNanoseconds();
        const pid_t pid = spawn(
            program, windows ? std::vector<QByteArray>{"--window"} : std::vector<QByteArray>{});
        if (pid <= 0 || !runUntil([&] { return reportedAt.has_value(); }, 2000)) {
            ++figures.missed;
        } else {
            figures.latenciesMs.push_back((*reportedAt - execAt) / 1e6);
            if (windows) {
                runUntil([&] { return readMapLog(mapLog).count(pid) > 0; }, 2000);
                const auto mapped = readMapLog(mapLog);
                if (const auto found = mapped.find(pid); found != mapped.end()) {
                    ++figures.withWindow;
                    figures.beforeMap += *reportedAt < found->second ? 1 : 0;
                }
            }
        }
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
            runUntil([&] { return ended; }, 2000);
        }
    }
    monitor.stopService();
    return figures;
}

void printLaunches(const LaunchFigures& figures, bool windows) {
    const std::vector<double>& latencies = figures.latenciesMs;
    std::printf("launches reported: %zu, missed: %d\n", latencies.size(), figures.missed);
    if (!latencies.empty())
        std::printf("exec -> onApplicationWillStart: median %.2f ms, p95 %.2f ms, max %.2f ms\n",
                    percentile(latencies, 0.5), percentile(latencies, 0.95),
                    *std::max_element(latencies.begin(), latencies.end()));
    if (windows)
        std::printf("reported before the first window mapped: %d of %d (%.1f %%)\n",
                    figures.beforeMap, figures.withWindow,
                    figures.withWindow ? 100.0 * figures.beforeMap / figures.withWindow : 0.0);
    else
        std::printf("no X display: window mapping not measured\n");
}

void measureIdle(int seconds, int processCount) {
    std::vector<pid_t> sleepers;
    for (int i = 0; i < processCount; ++i) {
        const pid_t pid = spawn(QStringLiteral("/bin/sleep"), {QByteArray::number(seconds + 60)});
        if (pid > 0)
            sleepers.push_back(pid);
    }
    // Let the watcher see them before the idle time is measured.
    idleFor(6000);
    const long long cpuBefore = processCpuNanoseconds();
    const long long wallBefore = monotonicNanoseconds();
    idleFor(seconds * 1000);
    const double cpuMs = (processCpuNanoseconds() - cpuBefore) / 1e6;
    const double wallMs = (monotonicNanoseconds() - wallBefore) / 1e6;
    int running = 0;
    for (const pid_t pid : platform::proc::listProcesses())
        running += pid > 0 ? 1 : 0;
    std::printf(
        "idle: %.1f s with %d processes running (%zu started for the test): watcher CPU "
        "%.1f ms = %.3f %% of one core\n",
        wallMs / 1000, running, sleepers.size(), cpuMs, 100.0 * cpuMs / wallMs);
    for (const pid_t pid : sleepers) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int launches = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    const int idleSeconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 60;
    const int idleProcesses = argc > 3 ? std::max(0, std::atoi(argv[3])) : 300;

    QTemporaryDir root;
    const QString folder = root.filePath(QStringLiteral("applications"));
    QDir().mkpath(folder);
    const QString program = root.filePath(QStringLiteral("bench-launched-application"));
    QFile::copy(QStringLiteral(WORKSPACE_TEST_APPLICATION), program);
    QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    QFile entry(folder + QStringLiteral("/") + benchIdentifier + QStringLiteral(".desktop"));
    entry.open(QIODevice::WriteOnly);
    entry.write("[Desktop Entry]\nType=Application\nName=Launched\nExec=" +
                QFile::encodeName(program) + "\n");
    entry.close();
    const QString mapLog = root.filePath(QStringLiteral("maps.log"));
    qputenv("VAULTINE_TEST_MAP_LOG", QFile::encodeName(mapLog));

    // The bench's entry first, then the machine's, so the watcher watches as many programs as in
    // real use.
    auto workspace = std::make_unique<platform::LinuxWorkspace>(
        QStringList{folder} + platform::DesktopEntryCatalogue::xdgApplicationFolders());
    const bool windows = workspace->hasWindowEvents();
    platform::Workspace::install(std::move(workspace));

    printLaunches(measureLaunches(program, mapLog, launches, windows), windows);
    measureIdle(idleSeconds, idleProcesses);
    platform::Workspace::install(nullptr);
    return 0;
}
