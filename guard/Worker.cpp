// Worker threads, a bounded queue, and an eventfd to tell the loop that work has finished.
#include "guard/Worker.h"

#include <signal.h>
#include <sys/eventfd.h>

#include <cstdint>

namespace guard {

namespace {
constexpr std::size_t kMaxQueued = 16;
}

Worker::Worker(std::size_t threadCount) : wakeup(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    for (std::size_t i = 0; i < threadCount; ++i)
        threads.emplace_back([this] { run(); });
}

Worker::~Worker() {
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    for (std::thread& thread : threads)
        thread.join();
}

bool Worker::submit(std::function<void()> work, std::function<void()> done) {
    {
        std::lock_guard lock(mutex);
        if (waiting.size() >= kMaxQueued)
            return false;
        waiting.push_back({std::move(work), std::move(done)});
    }
    wake.notify_one();
    return true;
}

void Worker::finish() {
    std::uint64_t count = 0;
    (void)!::read(wakeup.get(), &count, sizeof count);
    std::deque<Job> done;
    {
        std::lock_guard lock(mutex);
        done.swap(finished);
    }
    for (Job& job : done)
        job.done();
}

void Worker::run() {
    // Signals are the loop's: a SIGTERM taken here would end the guard at once, letting every held
    // exec through, instead of going through its orderly stop.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    std::unique_lock lock(mutex);
    while (true) {
        wake.wait(lock, [this] { return stopping || !waiting.empty(); });
        if (stopping)
            return;
        Job job = std::move(waiting.front());
        waiting.pop_front();
        lock.unlock();
        job.work();
        lock.lock();
        finished.push_back(std::move(job));
        const std::uint64_t one = 1;
        (void)!::write(wakeup.get(), &one, sizeof one);
    }
}

}  // namespace guard
