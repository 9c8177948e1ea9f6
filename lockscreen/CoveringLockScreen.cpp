// Our lock window in lock-screen presentation and a cover window per other screen.
#include "lockscreen/CoveringLockScreen.h"

#include <QGuiApplication>

#include "lockscreen/CoverWindow.h"

std::unique_ptr<LockWindow> CoveringLockScreen::makeLockWindow() {
    return prepared.take();
}

std::unique_ptr<QWidget> CoveringLockScreen::makeCover(const platform::Screen& screen) {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return nullptr;
    return std::make_unique<CoverWindow>(screen.frame);
}
