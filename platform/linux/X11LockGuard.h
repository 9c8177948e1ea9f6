// The X11 defences of one guarded window, written against a small view of the X server so that
// tests can drive them: grabs with retry, re-raising, and taking the focus when a grab is refused.
#pragma once

#include <QRect>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace platform::x11 {

using WindowId = std::uint32_t;

// What the guards need of the X server. XcbGuardServer speaks xcb on the toolkit's connection;
// tests use platform::testing::FakeX11Server.
class GuardServer {
  public:
    virtual ~GuardServer() = default;
    virtual WindowId rootWindow() = 0;
    // Active asynchronous grabs reported to `window`; false when another client holds a grab or
    // the window is not viewable.
    virtual bool grabKeyboard(WindowId window) = 0;
    virtual bool grabPointer(WindowId window) = 0;
    virtual void ungrabKeyboard() = 0;
    virtual void ungrabPointer() = 0;
    virtual void setInputFocus(WindowId window) = 0;
    virtual void raiseWindow(WindowId window) = 0;
    virtual void mapWindow(WindowId window) = 0;
    virtual void moveResizeWindow(WindowId window, const QRect& frame) = 0;
    // Whether a viewable top-level window that no guard owns is stacked above `window`.
    virtual bool foreignWindowAbove(WindowId window) = 0;
    // Takes away a _NET_WM_WINDOW_OPACITY set on the window, and any bounding or input shape.
    virtual void removeOpacity(WindowId window) = 0;
    virtual void removeShape(WindowId window) = 0;
    // Makes the window a child of the root again, at that position.
    virtual void reparentToRoot(WindowId window, const QPoint& position) = 0;
};

// A repeating timer; the real one is a QTimer, tests fire it by hand.
class GuardTimer {
  public:
    virtual ~GuardTimer() = default;
    virtual void start(int intervalMs, std::function<void()> onTimeout) = 0;
    virtual void stop() = 0;
};

// One guard per lock or cover window: keeps the override-redirect window on top of every other
// top-level window and, while input is wanted, holds the keyboard and pointer grabs (on the root
// until the window maps), retrying, re-taking and re-asserting them; a refused grab moves the
// focus to the window. What another client does to the window itself is undone as soon as the
// server reports it: an unmap, a lowering, a move or resize, an opacity, a shape or a new parent.
// The README's security design says why each of these is there.
class X11LockGuard {
  public:
    static constexpr int grabRetryIntervalMs = 100;
    static constexpr int ticksPerRefresh = 10;  // re-assert held grabs every 10 ticks (1 s)

    X11LockGuard(GuardServer& server, std::unique_ptr<GuardTimer> timer, WindowId window);
    ~X11LockGuard();
    X11LockGuard(const X11LockGuard&) = delete;
    X11LockGuard& operator=(const X11LockGuard&) = delete;

    WindowId window() const { return ownWindow; }
    bool holdsKeyboard() const { return keyboardHeld; }
    bool holdsPointer() const { return pointerHeld; }
    bool wantsInput() const { return inputWanted; }

    // Takes the grabs (true) or gives them back (false).
    void setInputWanted(bool wanted);
    // Our window became viewable: grabs move onto it and it goes on top.
    void windowMapped();
    void windowUnmapped();
    // Another top-level window mapped, was configured or circulated.
    void otherTopLevelChanged();
    // Our window was moved, resized or restacked (by anyone, ourselves included).
    void windowConfigured(const QRect& frame);
    void windowRestacked();
    // Someone set an opacity or a shape on our window.
    void windowMadeTransparent();
    void windowShaped();
    // Someone made our window the child of another window, which may hide or clip it.
    void windowReparented();
    // The server reported a focus change caused by a grab or ungrab on our window: the grabs are
    // taken again on the next tick.
    void grabMayBeLost();
    // One step of the 100 ms timer; public so that tests can step time.
    void tick();
    // The window is about to close while the lock is still wanted: the grabs move onto the root
    // window now, before the window stops being viewable (which would end them).
    void handOver();
    // Another guard of this program holds the grabs now: stop wanting input without ungrabbing,
    // since grabs belong to the program, not to a window.
    void forgetGrabs();

    // Where the guard logs; defaults to qInfo.
    std::function<void(const QString&)> onLog;
    // Told each time both grabs are held after a grab request.
    std::function<void()> onInputHeld;
    // Whether the program means the window to be shown now; unset: an unmapped window stays so.
    std::function<bool()> shouldBeMapped;
    // The frame, in the server's pixels, the program means the window to have now; unset or none:
    // any frame is kept.
    std::function<std::optional<QRect>()> wantedFrame;

  private:
    WindowId grabTarget() const;
    void takeGrabs(bool reassert);
    void releaseGrabs();
    void startTimer();
    void restored(const QString& what);

    GuardServer& server;
    std::unique_ptr<GuardTimer> timer;
    WindowId ownWindow;
    bool mapped = false;
    bool inputWanted = false;
    bool keyboardHeld = false;
    bool pointerHeld = false;
    bool grabsOnOwnWindow = false;  // false while held on the root window
    bool refusalLogged = false;
    bool timerRunning = false;
    int ticks = 0;
};

// Keeps the grabs of a lock window that closes while the lock is still wanted, so that a lock
// rebuilt over it (the screens changed, a second locked launch) never lets go of the keyboard
// and the pointer while the next lock window is being made: the kept guard holds them on the root
// window until the next lock window's guard holds them, or until the lock is no longer wanted.
class GrabRelay {
  public:
    // Unregisters a guard that the relay drops from the server's event routing.
    std::function<void(X11LockGuard&)> onDrop;

    // Takes the closing window's guard; a guard kept before goes without letting go.
    void keep(std::unique_ptr<X11LockGuard> guard);
    // The next lock window's guard holds the grabs.
    void grabsTakenOver();
    // The lock is no longer wanted: the kept guard gives the grabs back.
    void release();
    bool holdsGrabs() const { return kept != nullptr; }

  private:
    void drop();

    std::unique_ptr<X11LockGuard> kept;
};

}  // namespace platform::x11
