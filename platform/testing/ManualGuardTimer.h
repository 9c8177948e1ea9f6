// A guard timer for unit tests: records its interval and fires only when the test says so.
#pragma once

#include <memory>

#include "platform/linux/X11LockGuard.h"

namespace platform::testing {

class ManualGuardTimer : public x11::GuardTimer {
  public:
    // Shared with the test, which keeps a handle after the guard took ownership of the timer.
    struct State {
        bool running = false;
        int intervalMs = 0;
        std::function<void()> onTimeout;
        int starts = 0;
    };

    explicit ManualGuardTimer(std::shared_ptr<State> state) : state(std::move(state)) {}
    void start(int intervalMs, std::function<void()> onTimeout) override {
        state->running = true;
        state->intervalMs = intervalMs;
        state->onTimeout = std::move(onTimeout);
        ++state->starts;
    }
    void stop() override { state->running = false; }

    // Lets `count` intervals pass.
    static void advance(State& state, int count = 1) {
        for (int i = 0; i < count && state.running; ++i)
            state.onTimeout();
    }

  private:
    std::shared_ptr<State> state;
};

}  // namespace platform::testing
