// The program's lock window: a PasswordWindowController behind the LockWindow interface, its
// callbacks forwarded to the interface's; and the one kept laid out ahead for the next lock.
#pragma once

#include <QObject>
#include <chrono>
#include <memory>

#include "locking/LockWindow.h"

class PasswordWindowController;

class PasswordWindowLock : public LockWindow {
  public:
    PasswordWindowLock();
    ~PasswordWindowLock() override;

    void showServiceWindow(const QString& message, const QIcon& appIcon) override;
    void closeServiceWindow() override;
    void focus() override;
    void displayErrorMessage(const QString& message) override;
    // Lays the window out ahead, unmapped, so that showing it is a map in the same turn.
    void prepare();

  private:
    std::unique_ptr<PasswordWindowController> controller;
};

// Keeps one lock window laid out ahead, so that locking is a map rather than a form to load:
// `take` hands it out (or lays a new one out at once when none is ready) and lays out the next a
// little later, once the lock that took it is on screen. The first is laid out on the event loop's
// first turn after construction.
class PreparedLockWindows {
  public:
    PreparedLockWindows();
    std::unique_ptr<LockWindow> take();

  private:
    static constexpr std::chrono::milliseconds nextPreparationDelay{500};
    void prepareLater(std::chrono::milliseconds delay);

    std::unique_ptr<PasswordWindowLock> spare;
    QObject context;  // the pending preparation ends with this object
};
