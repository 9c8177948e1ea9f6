// The program's lock window: a PasswordWindowController behind the LockWindow interface, its
// callbacks forwarded to the interface's.
#pragma once

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

  private:
    std::unique_ptr<PasswordWindowController> controller;
};
