// Runs slow work on a thread of its own, so that the guard's event loop never waits on it: the
// password's (Argon2id takes tens of milliseconds) on one worker, reading the programs a user names
// (a path can lead anywhere the user chooses) on another. Results come back through an eventfd.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "guard/UniqueFd.h"

namespace guard {

class Worker {
  public:
    // Threads take queued work in turn: with more than one, work that waits long leaves the rest
    // to the others.
    explicit Worker(std::size_t threadCount = 1);
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Queues work for the thread and done for the loop; false when too much is queued already.
    bool submit(std::function<void()> work, std::function<void()> done);
    // The descriptor the loop polls; finish() runs the done callbacks of finished work.
    int fd() const { return wakeup.get(); }
    void finish();

  private:
    struct Job {
        std::function<void()> work;
        std::function<void()> done;
    };
    void run();

    UniqueFd wakeup;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> waiting;
    std::deque<Job> finished;
    bool stopping = false;
    std::vector<std::thread> threads;
};

}  // namespace guard
