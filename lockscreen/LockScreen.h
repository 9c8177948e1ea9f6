// The lock on screen as the central service sees it, whatever the session draws it with: a lock
// window per lock, a cover per other screen, and how long a locked launch waits.
#pragma once

#include <QWidget>
#include <memory>

#include "lockscreen/LockWindow.h"
#include "platform/Screens.h"
#include "platform/WindowSystem.h"

namespace platform {
class GnomeShellLock;
}

// One backend is chosen at start (`chooseLockScreen`) and kept for the whole run: our covering
// widgets (X11 or layer-shell overlays, the guards telling them apart), the GNOME Shell's lock
// drawn by our extension, or the gate. Tests install their own.
class LockScreen {
  public:
    virtual ~LockScreen() = default;

    // The lock window of one lock, not shown yet.
    virtual std::unique_ptr<LockWindow> makeLockWindow() = 0;
    // The cover of a screen other than the lock window's; none where nothing of ours covers it.
    virtual std::unique_ptr<QWidget> makeCover(const platform::Screen& screen) = 0;
    // The gate: the lock does not hide the locked application, so a locked launch is held until
    // the password rather than until its lock is on screen, and the user's close of the lock
    // window ends its runs.
    virtual bool holdsUntilPassword() const = 0;
};

// The backend of a session whose tier is `tier`. For the GNOME Shell extension's tier the Shell's
// lock is started here (`shell`, or one on the session bus): where it does not answer now, the
// tier is the gate.
std::unique_ptr<LockScreen> chooseLockScreen(platform::LockTier tier);
std::unique_ptr<LockScreen> chooseLockScreen(platform::LockTier tier,
                                             std::unique_ptr<platform::GnomeShellLock> shell);
