// Launch holds on real processes: a held process is stopped and recorded, a release or the time
// limit continues it, and a successor continues what a killed holder left recorded, but only the
// very process that was held; a hold until released outlives its holder for the successor to take
// over, and ending a run kills it and what it started.
#include "platform/linux/LaunchHolds.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "platform/linux/ProcReader.h"

namespace {

using platform::LaunchHolds;

bool isStopped(pid_t pid) {
    const auto fields = platform::proc::readStatFields(pid);
    return fields && fields->state == 'T';
}

// Waits up to a second for the state to become `stopped`, running the event loop meanwhile.
bool becomes(pid_t pid, bool stopped) {
    QElapsedTimer clock;
    clock.start();
    while (isStopped(pid) != stopped && clock.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return isStopped(pid) == stopped;
}

class LaunchHoldTest : public ::testing::Test {
  protected:
    void SetUp() override {
        child.start(QStringLiteral("/bin/sleep"), {QStringLiteral("30")});
        ASSERT_TRUE(child.waitForStarted());
        pid = static_cast<pid_t>(child.processId());
        record = directory.filePath(QStringLiteral("holds"));
    }
    void TearDown() override {
        ::kill(pid, SIGCONT);
        child.kill();
        child.waitForFinished();
    }
    QByteArray recordText() const {
        QFile file(record);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QProcess child;
    pid_t pid = 0;
    QTemporaryDir directory;
    QString record;
};

TEST_F(LaunchHoldTest, HeldProcessIsStoppedAndRecordedUntilReleased) {
    LaunchHolds holds(record);
    holds.hold(pid, 0);
    EXPECT_TRUE(becomes(pid, true));
    const auto start = platform::proc::readStartTime(pid);
    ASSERT_TRUE(start);
    EXPECT_EQ(recordText(), QByteArray::number(pid) + ' ' + QByteArray::number(*start) + '\n');

    holds.release(pid);
    EXPECT_TRUE(becomes(pid, false));
    EXPECT_FALSE(QFile::exists(record));
}

TEST_F(LaunchHoldTest, HoldEndsByItselfAfterTheLimit) {
    LaunchHolds holds(record);
    holds.hold(pid, 0);
    ASSERT_TRUE(becomes(pid, true));
    EXPECT_TRUE(becomes(pid, false));
}

TEST_F(LaunchHoldTest, ProcessOfAnotherStartTimeOrWithoutARecordIsNotHeld) {
    const auto start = platform::proc::readStartTime(pid);
    ASSERT_TRUE(start);
    LaunchHolds(record).hold(pid, *start + 1);
    LaunchHolds(QString()).hold(pid, 0);
    EXPECT_FALSE(becomes(pid, true));
}

TEST_F(LaunchHoldTest, SuccessorContinuesOnlyTheProcessesItsPredecessorHeld) {
    const auto start = platform::proc::readStartTime(pid);
    ASSERT_TRUE(start);
    ::kill(pid, SIGSTOP);
    ASSERT_TRUE(becomes(pid, true));
    QFile file(record);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    // A reused pid (another start time) stays as it is; broken lines are skipped.
    file.write(QByteArray::number(pid) + ' ' + QByteArray::number(*start + 1) + "\nbroken\n");
    file.close();
    LaunchHolds(record).releaseAll();
    EXPECT_FALSE(becomes(pid, false));
    EXPECT_FALSE(QFile::exists(record));

    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("x 1\n" + QByteArray::number(pid) + ' ' + QByteArray::number(*start) + '\n');
    file.close();
    LaunchHolds(record).releaseAll();
    EXPECT_TRUE(becomes(pid, false));
}

TEST_F(LaunchHoldTest, AHoldUntilReleasedOutlivesItsHolderAndEndingTheRunKillsWhatItStarted) {
    QProcess run;
    run.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("sleep 30 & wait")});
    ASSERT_TRUE(run.waitForStarted());
    const auto shell = static_cast<pid_t>(run.processId());
    const auto start = platform::proc::readStartTime(shell);
    ASSERT_TRUE(start);
    const auto childOfShell = [shell] {
        for (const pid_t process : platform::proc::listProcesses()) {
            const auto fields = platform::proc::readStatFields(process);
            if (fields && fields->parent == shell)
                return process;
        }
        return pid_t(0);
    };
    QElapsedTimer clock;
    clock.start();
    while (!childOfShell() && clock.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const pid_t sleeper = childOfShell();
    ASSERT_NE(sleeper, 0);

    LaunchHolds(record).hold(shell, 0, true);
    // Its holder gone without a release, the run stays stopped and recorded.
    EXPECT_TRUE(becomes(shell, true));
    LaunchHolds successor(record);
    EXPECT_EQ(successor.takeOver(),
              (std::vector<std::pair<pid_t, unsigned long long>>{{shell, *start}}));
    EXPECT_TRUE(isStopped(shell));

    EXPECT_TRUE(successor.endRun(shell, *start));
    EXPECT_TRUE(run.waitForFinished(5000));
    EXPECT_EQ(run.exitStatus(), QProcess::CrashExit);
    const auto ended = [sleeper] {
        const auto fields = platform::proc::readStatFields(sleeper);
        return !fields || fields->state == 'Z';
    };
    clock.restart();
    while (!ended() && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_TRUE(ended()) << "what the run started goes with it";
    EXPECT_FALSE(QFile::exists(record));
    // A process that is not the run any more is left alone.
    EXPECT_FALSE(successor.endRun(pid, *start + 1));
}

}  // namespace
