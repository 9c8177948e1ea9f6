// The background runner over the real Qt queues: main-thread blocks run later, in order.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <atomic>

#include "core/BackgroundRunner.h"
#include "platform/Queues.h"

namespace {

void runEventLoopUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 500 && !done(); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
}

TEST(BackgroundRunner, MainThreadBlockRunsAfterTheCallReturnsInSubmissionOrder) {
    platform::MainQueue::install(platform::MainQueue::createDefault());
    BackgroundRunner runner;
    QStringList order;
    runner.runOnMainThread([&] { order << QStringLiteral("first"); });
    runner.runOnMainThread([&] { order << QStringLiteral("second"); });
    order << QStringLiteral("caller");
    runEventLoopUntil([&] { return order.size() == 3; });
    EXPECT_EQ(order, (QStringList{"caller", "first", "second"}));
}

TEST(BackgroundRunner, RunHandsWorkToAnotherThreadAndBack) {
    platform::MainQueue::install(platform::MainQueue::createDefault());
    platform::GlobalQueue::install(platform::GlobalQueue::createDefault());
    BackgroundRunner runner;
    QThread* const mainThread = QThread::currentThread();
    std::atomic<QThread*> workerThread{nullptr};
    QThread* returnThread = nullptr;
    runner.run([&] {
        workerThread = QThread::currentThread();
        runner.runOnMainThread([&] { returnThread = QThread::currentThread(); });
    });
    runEventLoopUntil([&] { return returnThread != nullptr; });
    EXPECT_NE(workerThread.load(), mainThread);
    EXPECT_EQ(returnThread, mainThread);
}

}  // namespace
