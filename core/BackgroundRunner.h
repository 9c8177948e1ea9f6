// The program's one means of moving work between threads.
#pragma once

#include <functional>

class BackgroundRunner {
  public:
    using Block = std::function<void()>;
    // Runs the block on a pool thread; returns at once. Blocks may run in parallel.
    void run(Block block);
    // Queues the block on the main thread; returns at once, also when called there. Blocks run
    // one after another in submission order.
    void runOnMainThread(Block block);
};
