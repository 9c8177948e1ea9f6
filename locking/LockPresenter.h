// The lock on screen: the session's LockScreen, the lock window of the current lock, the covers of
// the other screens, and the screens that lock was built for.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "lockscreen/LockScreen.h"
#include "platform/Screens.h"

class QTimer;

// The owner decides what is locked; this shows it. All on the main thread.
class LockPresenter {
  public:
    explicit LockPresenter(std::unique_ptr<LockScreen> lockScreen);
    ~LockPresenter();
    LockPresenter(const LockPresenter&) = delete;
    LockPresenter& operator=(const LockPresenter&) = delete;

    // The gate: a locked launch is held until the password.
    bool holdsUntilPassword() const { return lockScreen->holdsUntilPassword(); }

    // Takes down the lock on screen, if any, covers the screens other than the main one and makes
    // the new lock's window, which the caller sets up and shows. The window replaced is destroyed
    // once the current event is over: it may be calling its owner right now.
    LockWindow& replaceLockWindow();
    // Closes the covers and the lock window, and stops the screen check.
    void close();
    // Records the screens the lock on screen is built for and checks them every `interval` with
    // `check` (the timer made at the first call) while a lock is up: an idle Vaultine wakes for
    // nothing.
    void watchScreens(std::chrono::milliseconds interval, std::function<void()> check);
    // Whether the screens differ in number, frame or role from those last recorded; records them.
    bool screensChanged();

    LockWindow* lockWindow() const { return window.get(); }
    const std::vector<std::unique_ptr<QWidget>>& covers() const { return coverWindows; }
    int screenCount() const { return static_cast<int>(lastScreens.size()); }

  private:
    void showCovers();
    void closeCovers();
    void recordScreens();
    static void retire(std::unique_ptr<LockWindow> replaced);

    // First, so that the lock windows it made, which may use what it owns, end before it.
    std::unique_ptr<LockScreen> lockScreen;
    std::unique_ptr<LockWindow> window;
    std::vector<std::unique_ptr<QWidget>> coverWindows;
    bool shown = false;
    std::vector<platform::Screen> lastScreens;
    std::optional<platform::Screen> lastMainScreen;
    std::unique_ptr<QObject> timerContext;  // owns the timer; it ends with the presenter
    QTimer* screensTimer = nullptr;
};
