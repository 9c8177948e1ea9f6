// The pace at which a program that ended is started again. A program that was ready (it answered
// its watcher once started) is started again at once, however often it ends: whoever kills it
// gains nothing. One that ends before it is ready, within seconds of its start, cannot start: it
// is started again after 1 s, 2 s, 4 s ... up to 30 s, so that its watcher never spins.
#pragma once

#include <chrono>
#include <functional>

namespace platform {

class RelaunchThrottle {
  public:
    using Clock = std::chrono::steady_clock;
    using Duration = std::chrono::milliseconds;

    // A run shorter than this that never became ready counts as dying at start.
    static constexpr Duration shortRun{10'000};
    static constexpr Duration firstBackOff{1'000};
    static constexpr Duration longestBackOff{30'000};

    explicit RelaunchThrottle(std::function<Clock::time_point()> now = Clock::now)
        : now(std::move(now)) {}

    // Records that the program was (asked to be) started now.
    void launched() {
        lastLaunch = now();
        hasLaunched = true;
        readySinceLaunch = false;
    }
    // Records that the program started last is ready: it holds its name and answers.
    void peerReady() { readySinceLaunch = true; }
    // Records that the program ended and gives the wait before the next start.
    Duration delayAfterEnd() {
        const bool failedStart = hasLaunched && !readySinceLaunch && now() - lastLaunch < shortRun;
        shortRuns = failedStart ? shortRuns + 1 : 0;
        readySinceLaunch = false;
        if (shortRuns <= 1)
            return Duration::zero();
        Duration delay = firstBackOff;
        for (int i = 2; i < shortRuns && delay < longestBackOff; ++i)
            delay *= 2;
        return delay < longestBackOff ? delay : longestBackOff;
    }
    // How many runs in a row ended before they were ready.
    int consecutiveShortRuns() const { return shortRuns; }

    // The clock; tests set their own.
    std::function<Clock::time_point()> now;

  private:
    Clock::time_point lastLaunch{};
    bool hasLaunched = false;
    bool readySinceLaunch = false;
    int shortRuns = 0;
};

}  // namespace platform
