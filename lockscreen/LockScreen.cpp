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
            return std::make_unique<GateLockScreen>();
        case LockTier::gnomeShellExtension:
            break;
    }
    if (!shell)
        shell = std::make_unique<platform::GnomeShellLock>();
    const bool answered = shell->start();
    qInfo().noquote() << (answered ? "Lock: drawn by the GNOME Shell extension"
                                   : "Lock: the GNOME Shell extension does not answer; locked "
                                     "launches are held until the password (the gate), the lock "
                                     "an ordinary window until the extension answers");
    return std::make_unique<GnomeShellLockScreen>(std::move(shell), !answered);
}
