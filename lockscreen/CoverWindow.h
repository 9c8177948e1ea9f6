// A cover for a screen other than the lock window's: a plain window in the lock screen's colour
// over the whole screen, kept on top by the window guards, swallowing keys and clicks.
#pragma once

#include <QRect>
#include <memory>

#include "lockscreen/BorderlessKeyWindow.h"

namespace platform {
class WindowGuard;
}

class CoverWindow : public BorderlessKeyWindow {
    Q_OBJECT

  public:
    // Covers `frame`, a screen's frame (the owner makes new covers when the screens change);
    // guarding starts here, before the window is shown.
    explicit CoverWindow(const QRect& frame);
    ~CoverWindow() override;

  private:
    std::unique_ptr<platform::WindowGuard> guard;
};
