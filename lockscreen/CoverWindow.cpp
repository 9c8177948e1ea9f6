// The cover window: frame from its screen, focus never taken (the lock window keeps it), guarded.
#include "lockscreen/CoverWindow.h"

#include "lockscreen/ScreenFrameFollower.h"
#include "platform/WindowGuard.h"

CoverWindow::CoverWindow(QScreen* screen)
    : BorderlessKeyWindow(nullptr, Qt::WindowDoesNotAcceptFocus), screen(screen) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    new ScreenFrameFollower(*this, ScreenFrameFollower::frameOfScreen(screen));
    guard =
        platform::WindowGuards::shared().guard(*this, platform::WindowGuards::Role::coverWindow);
}

CoverWindow::~CoverWindow() = default;
