// The hold and its record.
#include "platform/linux/LaunchHolds.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <xcb/xcb.h>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTimerEvent>
#include <set>

#include "platform/linux/ProcReader.h"

namespace platform {

namespace {

// Waits until the X server has handled every request this program sent so far (the lock
// window's map among them), so that the held process cannot map a window before it.
void syncWithDisplay() {
    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    auto* x11 =
        application ? application->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return;
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

// A process that has ended meanwhile counts as signalled.
bool sendSignal(pid_t pid, int number) {
    return ::kill(pid, number) == 0 || errno == ESRCH;
}

}  // namespace

std::map<pid_t, unsigned long long> parseLaunchHolds(const QByteArray& text) {
    std::map<pid_t, unsigned long long> parsed;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(' ');
        if (fields.size() != 2)
            continue;
        bool pidOk = false;
        bool startOk = false;
        const int pid = fields[0].toInt(&pidOk);
        const unsigned long long start = fields[1].toULongLong(&startOk);
        if (pidOk && startOk && pid > 0)
            parsed[pid] = start;
    }
    return parsed;
}

QString LaunchHolds::defaultRecordPath() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.isEmpty() || !QDir(QString::fromLocal8Bit(runtime)).exists())
        return {};
    return QDir(QString::fromLocal8Bit(runtime)).filePath(QStringLiteral("vaultine-launch-holds"));
}

LaunchHolds::LaunchHolds(QString recordPath) : recordPath(std::move(recordPath)) {}

LaunchHolds::~LaunchHolds() {
    // A hold until the password stays, recorded: only Quit, which asked for the password, or the
    // password itself continues it; a successor locks its run again.
    for (auto hold = holds.begin(); hold != holds.end();) {
        if (hold->second.timer) {
            continueProcess(hold->first, hold->second.startTime);
            hold = holds.erase(hold);
        } else {
            ++hold;
        }
    }
    writeRecord();
}

void LaunchHolds::hold(pid_t pid, unsigned long long startTime, bool untilReleased) {
    if (pid <= 0 || pid == ::getpid() || recordPath.isEmpty() || holds.count(pid))
        return;
    const std::optional<unsigned long long> actual = proc::readStartTime(pid);
    if (!actual || (startTime && *actual != startTime))
        return;
    holds[pid] = Hold{*actual, 0};
    // Recorded before the stop: a process we stop is always one a successor can find.
    if (!writeRecord()) {
        holds.erase(pid);
        return;
    }
    ::kill(pid, SIGSTOP);
    if (!untilReleased)
        holds[pid].timer = startTimer(longestHold);
}

bool LaunchHolds::isHolding(pid_t pid, unsigned long long startTime) const {
    const auto found = holds.find(pid);
    return found != holds.end() && (!startTime || found->second.startTime == startTime);
}

void LaunchHolds::release(pid_t pid) {
    const auto found = holds.find(pid);
    if (found == holds.end())
        return;
    const Hold hold = found->second;
    holds.erase(found);
    if (hold.timer)
        killTimer(hold.timer);
    syncWithDisplay();
    continueProcess(pid, hold.startTime);
    writeRecord();
}

void LaunchHolds::releaseAll() {
    if (recordPath.isEmpty())
        return;
    QFile record(recordPath);
    if (record.open(QIODevice::ReadOnly)) {
        for (const auto& [pid, startTime] : parseLaunchHolds(record.read(64 * 1024)))
            holds.emplace(pid, Hold{startTime, 0});
    }
    for (const auto& [pid, hold] : holds) {
        if (hold.timer)
            killTimer(hold.timer);
        continueProcess(pid, hold.startTime);
    }
    holds.clear();
    writeRecord();
}

std::vector<std::pair<pid_t, unsigned long long>> LaunchHolds::takeOver() {
    if (recordPath.isEmpty())
        return {};
    QFile record(recordPath);
    if (record.open(QIODevice::ReadOnly)) {
        for (const auto& [pid, startTime] : parseLaunchHolds(record.read(64 * 1024)))
            holds.emplace(pid, Hold{startTime, 0});
    }
    std::vector<std::pair<pid_t, unsigned long long>> taken;
    for (auto hold = holds.begin(); hold != holds.end();) {
        if (proc::readStartTime(hold->first) != hold->second.startTime) {
            hold = holds.erase(hold);
            continue;
        }
        taken.emplace_back(hold->first, hold->second.startTime);
        ++hold;
    }
    writeRecord();
    return taken;
}

bool LaunchHolds::endRun(pid_t pid, unsigned long long startTime) {
    if (pid <= 0 || pid == ::getpid() || proc::readStartTime(pid) != startTime)
        return false;
    // Stopped generation by generation before any is killed, so that none of the run starts
    // another process meanwhile; then killed, then continued: a stopped process dies only once it
    // runs. We are never part of it, even when it started us.
    std::vector<pid_t> run{pid};
    std::set<pid_t> members{pid};
    bool signalled = true;
    for (std::size_t stopped = 0; stopped < run.size();) {
        const std::set<pid_t> generation(run.begin() + static_cast<std::ptrdiff_t>(stopped),
                                         run.end());
        for (; stopped < run.size(); ++stopped)
            signalled = sendSignal(run[stopped], SIGSTOP) && signalled;
        for (const pid_t process : proc::listProcesses()) {
            const std::optional<proc::StatFields> fields = proc::readStatFields(process);
            if (fields && generation.count(fields->parent) && process != ::getpid() &&
                members.insert(process).second)
                run.push_back(process);
        }
    }
    for (const pid_t process : run)
        signalled = sendSignal(process, SIGKILL) && signalled;
    for (const pid_t process : run)
        ::kill(process, SIGCONT);
    if (const auto found = holds.find(pid); found != holds.end()) {
        if (found->second.timer)
            killTimer(found->second.timer);
        holds.erase(found);
        writeRecord();
    }
    return signalled;
}

void LaunchHolds::timerEvent(QTimerEvent* event) {
    for (const auto& [pid, hold] : holds) {
        if (hold.timer == event->timerId()) {
            release(pid);
            return;
        }
    }
    killTimer(event->timerId());
}

bool LaunchHolds::writeRecord() const {
    if (holds.empty())
        return QFile::remove(recordPath) || !QFile::exists(recordPath);
    QByteArray text;
    for (const auto& [pid, hold] : holds)
        text += QByteArray::number(pid) + ' ' + QByteArray::number(hold.startTime) + '\n';
    // Written beside the record and renamed over it, so that a reader never sees half of it; not
    // flushed to disk (a saving file would be), since the record only matters to the processes of
    // this boot and the flush would delay the lock.
    const QString temporary = recordPath + QStringLiteral(".new");
    QFile record(temporary);
    if (!record.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        record.write(text) != text.size() || !record.flush())
        return false;
    record.close();
    return ::rename(QFile::encodeName(temporary).constData(),
                    QFile::encodeName(recordPath).constData()) == 0;
}

void LaunchHolds::continueProcess(pid_t pid, unsigned long long startTime) const {
    // Only the process that was held: its pid may name another one by now.
    const std::optional<unsigned long long> actual = proc::readStartTime(pid);
    if (actual && *actual == startTime)
        ::kill(pid, SIGCONT);
}

}  // namespace platform
