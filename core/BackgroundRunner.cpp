// Work handed to the platform's global and main queues.
#include "core/BackgroundRunner.h"

#include "platform/Queues.h"

void BackgroundRunner::run(Block block) {
    platform::GlobalQueue::shared().async(std::move(block));
}

void BackgroundRunner::runOnMainThread(Block block) {
    platform::MainQueue::shared().async(std::move(block));
}
