// The window guards of the Linux desktop: on an X11 display each guarded window gets an
// X11LockGuard; the lock window's one follows the presentation options. Offscreen, guards do
// nothing.
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>

#include "platform/PresentationOptions.h"
#include "platform/WindowGuard.h"
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

class X11WindowGuard : public WindowGuard {
  public:
    X11WindowGuard(x11::XcbGuardServer& server, QWidget& window, WindowGuards::Role role)
        : server(server),
          guard(server, std::make_unique<QtGuardTimer>(),
                static_cast<x11::WindowId>(window.winId())) {
        server.add(guard);
        if (window.isVisible())
            guard.windowMapped();
        if (role != WindowGuards::Role::lockWindow)
            return;
        auto& options = PresentationOptions::shared();
        optionsObserver = options.addObserver(
            [this](PresentationOptions::Options value) { guard.setInputWanted(value != 0); });
        guard.setInputWanted(options.presentationOptions() != 0);
    }
    ~X11WindowGuard() override {
        if (optionsObserver)
            PresentationOptions::shared().removeObserver(optionsObserver);
        server.remove(guard);
    }

  private:
    x11::XcbGuardServer& server;
    x11::X11LockGuard guard;
    PresentationOptions::ObserverId optionsObserver = 0;
};

class InertWindowGuard : public WindowGuard {};

class LinuxWindowGuards : public WindowGuards {
  public:
    std::unique_ptr<WindowGuard> guard(QWidget& window, Role role) override {
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
