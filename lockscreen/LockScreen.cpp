// The choice of the lock's backend by the session's tier, made once at start.
#include "lockscreen/LockScreen.h"

#include <QDebug>

#include "lockscreen/CoveringLockScreen.h"
#include "lockscreen/GateLockScreen.h"
#include "lockscreen/GnomeShellLockScreen.h"
#include "platform/linux/GnomeShellLock.h"

std::unique_ptr<LockScreen> chooseLockScreen(platform::LockTier tier) {
    return chooseLockScreen(tier, nullptr);
}

std::unique_ptr<LockScreen> chooseLockScreen(platform::LockTier tier,
                                             std::unique_ptr<platform::GnomeShellLock> shell) {
    using platform::LockTier;
    switch (tier) {
        case LockTier::x11Covers:
        case LockTier::layerShellCovers:
            return std::make_unique<CoveringLockScreen>();
        case LockTier::gate:
        case LockTier::gnomeShellExtension:
            break;
    }
    if (!platform::GnomeShellLock::sessionWantsShellLock())
        return std::make_unique<GateLockScreen>();
    // In GNOME on Wayland the Shell draws the lock whenever the extension answers.
    if (!shell)
        shell = std::make_unique<platform::GnomeShellLock>();
    const bool answered = shell->start();
    qInfo().noquote() << (answered ? "Lock: drawn by the GNOME Shell extension"
                                   : "Lock: the GNOME Shell extension does not answer; the lock "
                                     "is an ordinary window");
    return std::make_unique<GnomeShellLockScreen>(std::move(shell), true);
}
