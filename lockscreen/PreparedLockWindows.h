// Keeps the next lock window laid out ahead, so that locking is a map rather than a form to load.
#pragma once

#include <QObject>
#include <chrono>
#include <memory>

#include "lockscreen/LockWindow.h"
#include "lockscreen/PasswordWindowController.h"

// `take` hands out the window laid out ahead (or lays a new one out at once when none is ready)
// and lays out the next a little later, once the lock that took it is on screen. The first is laid
// out on the event loop's first turn after construction, in a program with widgets.
class PreparedLockWindows {
  public:
    explicit PreparedLockWindows(PasswordWindowController::Presentation presentation =
                                     PasswordWindowController::Presentation::lockScreen);
    ~PreparedLockWindows();
    PreparedLockWindows(const PreparedLockWindows&) = delete;
    PreparedLockWindows& operator=(const PreparedLockWindows&) = delete;

    std::unique_ptr<LockWindow> take();

  private:
    static constexpr std::chrono::milliseconds nextPreparationDelay{500};
    void prepareLater(std::chrono::milliseconds delay);

    PasswordWindowController::Presentation presentation;
    std::unique_ptr<PasswordWindowController> spare;
    QObject context;  // the pending preparation ends with this object
};
