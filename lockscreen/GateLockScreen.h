// The gate, where nothing of ours can cover the screens: the lock is an ordinary window and a
// locked launch stays held, before its first window, until the password.
#pragma once

#include "lockscreen/LockScreen.h"
#include "lockscreen/PreparedLockWindows.h"

class GateLockScreen : public LockScreen {
  public:
    std::unique_ptr<LockWindow> makeLockWindow() override { return prepared.take(); }
    // A cover would be one more ordinary window, hiding nothing.
    std::unique_ptr<QWidget> makeCover(const platform::Screen&) override { return nullptr; }
    bool holdsUntilPassword() const override { return true; }

  private:
    PreparedLockWindows prepared{PasswordWindowController::Presentation::ordinaryWindow};
};
