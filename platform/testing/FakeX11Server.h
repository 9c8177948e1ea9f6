// An X server for unit tests of the window guards: grabs succeed unless another client is said to
// hold one, and every request is recorded.
#pragma once

#include <vector>

#include "platform/linux/X11LockGuard.h"

namespace platform::testing {

class FakeX11Server : public x11::GuardServer {
  public:
    static constexpr x11::WindowId root = 1;

    bool keyboardTakenByOther = false;  // another client holds an active keyboard grab
    bool pointerTakenByOther = false;
    x11::WindowId keyboardGrabWindow = 0;  // ours; 0 when we hold none
    x11::WindowId pointerGrabWindow = 0;
    int keyboardGrabAttempts = 0;
    int pointerGrabAttempts = 0;
    std::vector<x11::WindowId> raised;
    std::vector<x11::WindowId> focused;

    x11::WindowId rootWindow() override { return root; }
    bool grabKeyboard(x11::WindowId window) override {
        ++keyboardGrabAttempts;
        if (keyboardTakenByOther)
            return false;
        keyboardGrabWindow = window;
        return true;
    }
    bool grabPointer(x11::WindowId window) override {
        ++pointerGrabAttempts;
        if (pointerTakenByOther)
            return false;
        pointerGrabWindow = window;
        return true;
    }
    int ungrabs = 0;  // ungrab requests of either kind

    void ungrabKeyboard() override {
        keyboardGrabWindow = 0;
        ++ungrabs;
    }
    void ungrabPointer() override {
        pointerGrabWindow = 0;
        ++ungrabs;
    }
    void setInputFocus(x11::WindowId window) override { focused.push_back(window); }
    void raiseWindow(x11::WindowId window) override { raised.push_back(window); }

    bool otherWindowOnTop = false;  // a viewable window of another client is above ours
    std::vector<x11::WindowId> mapped;
    std::vector<QRect> frames;  // move-resize requests, in order
    std::vector<x11::WindowId> opacityRemoved;
    std::vector<x11::WindowId> shapeRemoved;

    void mapWindow(x11::WindowId window) override { mapped.push_back(window); }
    void moveResizeWindow(x11::WindowId, const QRect& frame) override { frames.push_back(frame); }
    bool foreignWindowAbove(x11::WindowId) override { return otherWindowOnTop; }
    void removeOpacity(x11::WindowId window) override { opacityRemoved.push_back(window); }
    void removeShape(x11::WindowId window) override { shapeRemoved.push_back(window); }
    std::vector<x11::WindowId> reparentedToRoot;
    void reparentToRoot(x11::WindowId window, const QPoint&) override {
        reparentedToRoot.push_back(window);
    }
};

}  // namespace platform::testing
