// Showing and taking down the lock window and the covers, and the screens they were built for.
#include "locking/LockPresenter.h"

#include <QTimer>

#include "platform/Queues.h"

LockPresenter::LockPresenter(std::unique_ptr<LockScreen> lockScreen)
    : lockScreen(std::move(lockScreen)), timerContext(std::make_unique<QObject>()) {
    recordScreens();
}

LockPresenter::~LockPresenter() = default;

LockWindow& LockPresenter::replaceLockWindow() {
    if (shown) {
        closeCovers();
        if (window)
            window->closeServiceWindow();
    }
    shown = true;
    showCovers();
    retire(std::move(window));
    window = lockScreen->makeLockWindow();
    return *window;
}

void LockPresenter::close() {
    shown = false;
    if (screensTimer)
        screensTimer->stop();
    closeCovers();
    if (window)
        window->closeServiceWindow();
}

void LockPresenter::retire(std::unique_ptr<LockWindow> replaced) {
    if (!replaced)
        return;
    std::shared_ptr<LockWindow> retired = std::move(replaced);
    platform::MainQueue::shared().async([retired] {});
}

void LockPresenter::showCovers() {
    closeCovers();
    const auto main = platform::Screens::shared().mainScreen();
    for (const auto& screen : platform::Screens::shared().screens()) {
        if (main && screen == *main)
            continue;
        if (auto cover = lockScreen->makeCover(screen))
            coverWindows.push_back(std::move(cover));
    }
    for (const auto& cover : coverWindows) {
        cover->show();
        cover->raise();
    }
}

void LockPresenter::closeCovers() {
    for (const auto& cover : coverWindows)
        cover->close();
    coverWindows.clear();
}

void LockPresenter::watchScreens(std::chrono::milliseconds interval, std::function<void()> check) {
    recordScreens();
    if (!screensTimer) {
        screensTimer = new QTimer(timerContext.get());
        QObject::connect(screensTimer, &QTimer::timeout, timerContext.get(), std::move(check));
    }
    screensTimer->setInterval(interval);
    if (!screensTimer->isActive())
        screensTimer->start();
}

bool LockPresenter::screensChanged() {
    auto& screens = platform::Screens::shared();
    auto current = screens.screens();
    auto main = screens.mainScreen();
    if (current == lastScreens && main == lastMainScreen)
        return false;
    lastScreens = std::move(current);
    lastMainScreen = std::move(main);
    return true;
}

void LockPresenter::recordScreens() {
    lastScreens = platform::Screens::shared().screens();
    lastMainScreen = platform::Screens::shared().mainScreen();
}
