// The Shell's lock while our extension answers, an ordinary window of ours while it does not.
#include "lockscreen/GnomeShellLockScreen.h"

#include "lockscreen/GnomeShellLockWindow.h"
#include "platform/linux/GnomeShellLock.h"

GnomeShellLockScreen::GnomeShellLockScreen(std::unique_ptr<platform::GnomeShellLock> shell,
                                           bool gate)
    : shell(std::move(shell)),
      gate(gate),
      ownWindows(std::make_shared<PreparedLockWindows>(
          PasswordWindowController::Presentation::ordinaryWindow)) {}

GnomeShellLockScreen::~GnomeShellLockScreen() = default;

std::unique_ptr<LockWindow> GnomeShellLockScreen::makeLockWindow() {
    if (!shell->available())
        return ownWindows->take();
    // A replaced lock window is destroyed a turn later: its fallback keeps the windows it takes
    // from alive on its own.
    return std::make_unique<GnomeShellLockWindow>(
        *shell, [ownWindows = ownWindows] { return ownWindows->take(); });
}
