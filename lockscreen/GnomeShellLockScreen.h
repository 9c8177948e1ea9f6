// The lock in GNOME on Wayland: drawn by the Shell through our extension, which covers every
// monitor itself and holds the keyboard, so the locked application runs on under it.
#pragma once

#include <memory>

#include "lockscreen/LockScreen.h"
#include "lockscreen/PreparedLockWindows.h"

// Each lock asks the Shell while the extension answers and is an ordinary window of ours
// otherwise (GnomeShellLockWindow falls back to one when the Shell refuses). `gate`: the extension
// did not answer at start, so a locked launch is held until the password, as on the gate; the
// Shell's lock is still used once the extension answers.
class GnomeShellLockScreen : public LockScreen {
  public:
    GnomeShellLockScreen(std::unique_ptr<platform::GnomeShellLock> shell, bool gate);
    ~GnomeShellLockScreen() override;

    std::unique_ptr<LockWindow> makeLockWindow() override;
    // The Shell covers the other monitors; an ordinary window of ours would hide nothing there.
    std::unique_ptr<QWidget> makeCover(const platform::Screen&) override { return nullptr; }
    bool holdsUntilPassword() const override { return gate; }

  private:
    std::unique_ptr<platform::GnomeShellLock> shell;
    const bool gate;
    std::shared_ptr<PreparedLockWindows> ownWindows;
};
