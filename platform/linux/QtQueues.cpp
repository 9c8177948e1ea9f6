// The main queue over the Qt event loop and the global queue over Qt's global thread pool.
#include <QCoreApplication>
#include <QMetaObject>
#include <QThreadPool>

#include "platform/Queues.h"

namespace platform {

namespace {

class EventLoopMainQueue : public MainQueue {
  public:
    void async(Block block) override {
        // Queued events to one receiver are delivered in posting order.
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(block),
                                  Qt::QueuedConnection);
    }
};

class ThreadPoolGlobalQueue : public GlobalQueue {
  public:
    void async(Block block) override { QThreadPool::globalInstance()->start(std::move(block)); }
};

}  // namespace

std::unique_ptr<MainQueue> MainQueue::createDefault() {
    return std::make_unique<EventLoopMainQueue>();
}

std::unique_ptr<GlobalQueue> GlobalQueue::createDefault() {
    return std::make_unique<ThreadPoolGlobalQueue>();
}

}  // namespace platform
