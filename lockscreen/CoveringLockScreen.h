// The lock drawn by our own widgets over every screen: the lock window on the main screen and a
// cover on each other, on X11 or on layer-shell overlays (their window guards tell them apart).
#pragma once

#include "lockscreen/LockScreen.h"
#include "lockscreen/PreparedLockWindows.h"

class CoveringLockScreen : public LockScreen {
  public:
    std::unique_ptr<LockWindow> makeLockWindow() override;
    // By frame, not by the toolkit's screen: a monitor the toolkit has not caught up with yet is
    // covered all the same. None in a program without widgets.
    std::unique_ptr<QWidget> makeCover(const platform::Screen& screen) override;
    bool holdsUntilPassword() const override { return false; }

  private:
    PreparedLockWindows prepared{PasswordWindowController::Presentation::lockScreen};
};
