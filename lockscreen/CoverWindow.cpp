// The cover window: its screen's frame, focus never taken (the lock window keeps it), guarded.
#include "lockscreen/CoverWindow.h"

#include "platform/WindowGuard.h"

CoverWindow::CoverWindow(const QRect& frame)
    : BorderlessKeyWindow(nullptr, Qt::WindowDoesNotAcceptFocus) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setGeometry(frame);
    guard =
        platform::WindowGuards::shared().guard(*this, platform::WindowGuards::Role::coverWindow);
}

CoverWindow::~CoverWindow() = default;
