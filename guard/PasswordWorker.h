// Runs the slow password work (Argon2id takes tens of milliseconds) on a thread of its own, so
// that the guard's event loop never waits on it; results come back through an eventfd.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "guard/UniqueFd.h"

namespace guard {

class PasswordWorker {
  public:
    PasswordWorker();
    ~PasswordWorker();
    PasswordWorker(const PasswordWorker&) = delete;
    PasswordWorker& operator=(const PasswordWorker&) = delete;

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
    std::thread thread;
};

}  // namespace guard
