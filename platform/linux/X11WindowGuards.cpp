// The window guards of the Linux desktop: on an X11 display each guarded window gets an
// X11LockGuard, told what the window should look like; the lock window's one follows the
// presentation options. On Wayland with the layer shell the windows go on overlay surfaces
// (LayerShellWindowGuard); offscreen and on other Wayland compositors, where there are no X grabs
// or X stacking to rely on, guards do nothing.
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "platform/PresentationOptions.h"
#include "platform/Screens.h"
#include "platform/WindowGuard.h"
#include "platform/WindowSystem.h"
#include "platform/linux/LayerShellConnection.h"
#include "platform/linux/LayerShellWindowGuard.h"
#include "platform/linux/XcbGuardServer.h"

namespace platform {

namespace {

class QtGuardTimer : public x11::GuardTimer {
  public:
    void start(int intervalMs, std::function<void()> onTimeout) override {
        QObject::disconnect(&timer, nullptr, nullptr, nullptr);
        QObject::connect(&timer, &QTimer::timeout, &timer, std::move(onTimeout));
        timer.start(intervalMs);
    }
    void stop() override { timer.stop(); }

  private:
    QTimer timer;
};

// The relay of the program's lock windows (see x11::GrabRelay): a lock window's guard that ends
// while the lock screen's options are set is kept, grabs held on the root, until the next lock
// window's guard holds them. A check on later turns of the event loop lets the kept guard go once
// the options are back at 0; a rebuild sets 0 and the lock options again within one turn, so its
// grabs are never given back.
class LockGrabRelay {
  public:
    static constexpr int checkIntervalMs = 50;

    explicit LockGrabRelay(x11::XcbGuardServer& server) {
        relay.onDrop = [&server](x11::X11LockGuard& guard) { server.remove(guard); };
        check.setInterval(checkIntervalMs);
        QObject::connect(&check, &QTimer::timeout, &check, [this] { releaseIfUnwanted(); });
    }
    void keep(std::unique_ptr<x11::X11LockGuard> guard) {
        relay.keep(std::move(guard));
        // First on the next turn, when a rebuild has set the options again; then every 50 ms for
        // a next lock window that never came.
        QTimer::singleShot(0, &check, [this] { releaseIfUnwanted(); });
        check.start();
    }
    x11::GrabRelay relay;

  private:
    void releaseIfUnwanted() {
        if (relay.holdsGrabs() && PresentationOptions::shared().presentationOptions() == 0)
            relay.release();
        if (!relay.holdsGrabs())
            check.stop();
    }

    QTimer check;
};

LockGrabRelay& lockGrabRelay(x11::XcbGuardServer& server) {
    // Lives as long as the program, like the server it works for.
    static LockGrabRelay instance(server);
    return instance;
}

class X11WindowGuard : public WindowGuard {
  public:
    X11WindowGuard(x11::XcbGuardServer& server, QWidget& window, WindowGuards::Role role)
        : server(server),
          guard(std::make_unique<x11::X11LockGuard>(server, std::make_unique<QtGuardTimer>(),
                                                    static_cast<x11::WindowId>(window.winId()))) {
        followWindow(window, role);
        server.add(*guard);
        if (window.isVisible())
            guard->windowMapped();
        if (role != WindowGuards::Role::lockWindow)
            return;
        isLockWindow = true;
        LockGrabRelay& relay = lockGrabRelay(server);
        guard->onInputHeld = [&relay] { relay.relay.grabsTakenOver(); };
        auto& options = PresentationOptions::shared();
        optionsObserver = options.addObserver(
            [this](PresentationOptions::Options value) { guard->setInputWanted(value != 0); });
        guard->setInputWanted(options.presentationOptions() != 0);
    }
    ~X11WindowGuard() override {
        if (optionsObserver)
            PresentationOptions::shared().removeObserver(optionsObserver);
        if (isLockWindow && guard->wantsInput()) {
            lockGrabRelay(server).keep(std::move(guard));
            return;
        }
        server.remove(*guard);
    }

  private:
    // What another client may not change: the window stays mapped while the toolkit shows it,
    // and keeps its frame: a cover the one it was made with, the lock window the main screen's
    // (as ScreenFrameFollower sets it).
    void followWindow(QWidget& window, WindowGuards::Role role) {
        QPointer<QWidget> shown(&window);
        guard->shouldBeMapped = [shown] { return shown && shown->isVisible(); };
        const QRect coverFrame = window.geometry();
        const bool isLock = role == WindowGuards::Role::lockWindow;
        guard->wantedFrame = [shown, coverFrame, isLock]() -> std::optional<QRect> {
            if (!shown)
                return std::nullopt;
            const auto main = Screens::shared().mainScreen();
            if (isLock && !main)
                return std::nullopt;
            return serverFrame(isLock ? main->frame : coverFrame, qGuiApp->devicePixelRatio());
        };
    }
    // The toolkit's frame in the server's pixels: the inverse of RandrScreens' scaling.
    static QRect serverFrame(const QRect& frame, qreal ratio) {
        if (ratio <= 0 || ratio == 1.0)
            return frame;
        return QRect(frame.topLeft(),
                     QSize(qRound(frame.width() * ratio), qRound(frame.height() * ratio)));
    }

    x11::XcbGuardServer& server;
    std::unique_ptr<x11::X11LockGuard> guard;
    PresentationOptions::ObserverId optionsObserver = 0;
    bool isLockWindow = false;
};

class InertWindowGuard : public WindowGuard {};

class LinuxWindowGuards : public WindowGuards {
  public:
    std::unique_ptr<WindowGuard> guard(QWidget& window, Role role) override {
        if (!windowsAreX11()) {
            if (waylandOffersLayerShell())
                return wayland::makeLayerShellWindowGuard(*wayland::LayerShellConnection::shared(),
                                                          window, role == Role::lockWindow);
            return std::make_unique<InertWindowGuard>();
        }
        if (auto* server = x11::XcbGuardServer::instance())
            return std::make_unique<X11WindowGuard>(*server, window, role);
        return std::make_unique<InertWindowGuard>();
    }
};

}  // namespace

std::unique_ptr<WindowGuards> WindowGuards::createDefault() {
    return std::make_unique<LinuxWindowGuards>();
}

}  // namespace platform
