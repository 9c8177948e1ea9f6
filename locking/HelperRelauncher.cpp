// Starting Corvane again when it ends, throttled while it dies before it is ready.
#include "locking/HelperRelauncher.h"

#include <QString>
#include <QTimer>
#include <cstdio>

HelperRelauncher::HelperRelauncher(std::function<void()> launch)
    : launch(std::move(launch)), timerContext(std::make_unique<QObject>()) {
    scheduleAfter = [context = timerContext.get()](std::chrono::milliseconds delay,
                                                   std::function<void()> block) {
        QTimer::singleShot(delay, context, std::move(block));
    };
}

HelperRelauncher::~HelperRelauncher() = default;

void HelperRelauncher::start() {
    throttle.launched();
    launch();
}

void HelperRelauncher::handleTerminated() {
    std::printf("Helper Terminated\n");
    std::fflush(stdout);
    if (restartPending)
        return;
    const auto delay = throttle.delayAfterEnd();
    if (delay == std::chrono::milliseconds::zero()) {
        start();
        return;
    }
    // Corvane keeps dying before it is ready: wait before the next try instead of spinning.
    std::printf("%s\n", qUtf8Printable(QStringLiteral("Corvane ended before it was ready %1 times "
                                                      "in a row; starting it again in %2 s")
                                           .arg(throttle.consecutiveShortRuns())
                                           .arg(static_cast<double>(delay.count()) / 1000.0)));
    std::fflush(stdout);
    restartPending = true;
    scheduleAfter(delay, [this] {
        restartPending = false;
        start();
    });
}
