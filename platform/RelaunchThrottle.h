// The pace at which a program that ended is started again: at once the first time, then, while it
// keeps ending within seconds of each start, after 1 s, 2 s, 4 s ... up to 30 s, so that a
// program that dies at start-up never makes its watcher spin.
#pragma once

#include <chrono>
#include <functional>

namespace platform {

class RelaunchThrottle {
  public:
    using Clock = std::chrono::steady_clock;
    using Duration = std::chrono::milliseconds;

    // A run shorter than this counts as dying at start.
    static constexpr Duration shortRun{10'000};
    static constexpr Duration firstBackOff{1'000};
    static constexpr Duration longestBackOff{30'000};

    explicit RelaunchThrottle(std::function<Clock::time_point()> now = Clock::now)
        : now(std::move(now)) {}

    // Records that the program was (asked to be) started now.
    void launched() {
        lastLaunch = now();
        hasLaunched = true;
    }
    // Records that the program ended and gives the wait before the next start.
    Duration delayAfterEnd() {
        const bool diedSoon = hasLaunched && now() - lastLaunch < shortRun;
        shortRuns = diedSoon ? shortRuns + 1 : 0;
        if (shortRuns <= 1)
            return Duration::zero();
        Duration delay = firstBackOff;
        for (int i = 2; i < shortRuns && delay < longestBackOff; ++i)
            delay *= 2;
        return delay < longestBackOff ? delay : longestBackOff;
    }
    // How many runs in a row ended early.
    int consecutiveShortRuns() const { return shortRuns; }

    // The clock; tests set their own.
    std::function<Clock::time_point()> now;

  private:
    Clock::time_point lastLaunch{};
    bool hasLaunched = false;
    int shortRuns = 0;
};

}  // namespace platform
