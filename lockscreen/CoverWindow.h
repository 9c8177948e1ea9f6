// A cover for a screen other than the lock window's: a plain window in the lock screen's colour
// over the whole screen, kept on top by the window guards, swallowing keys and clicks.
#pragma once

#include <QScreen>
#include <memory>

#include "lockscreen/BorderlessKeyWindow.h"

namespace platform {
class WindowGuard;
}

class CoverWindow : public BorderlessKeyWindow {
    Q_OBJECT

  public:
    // Covers `screen` and follows its geometry; guarding starts here, before the window is shown.
    explicit CoverWindow(QScreen* screen);
    ~CoverWindow() override;

    QScreen* coveredScreen() const { return screen; }

  private:
    QPointer<QScreen> screen;
    std::unique_ptr<platform::WindowGuard> guard;
};
