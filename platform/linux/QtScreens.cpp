// The screens as Qt reports them: QGuiApplication::screens() in order and the primary screen.
// Without a QGuiApplication (Corvane, plain tests) there are no screens. On X11 the RandR monitors
// are read directly instead (see RandrScreens.h); on Wayland there are only the compositor's.
#include <QGuiApplication>
#include <QScreen>
#include <memory>

#include "platform/Screens.h"
#include "platform/linux/RandrScreens.h"

namespace platform {

namespace {

Screen describe(const QScreen& screen) {
    return {screen.name(), screen.geometry()};
}

class QtScreens : public Screens {
  public:
    QtScreens() {
        auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
        if (!application)
            return;
        auto follow = [this](QScreen* screen) {
            QObject::connect(screen, &QScreen::geometryChanged, &context,
                             [this] { observers.notify(); });
        };
        for (QScreen* screen : QGuiApplication::screens())
            follow(screen);
        QObject::connect(application, &QGuiApplication::screenAdded, &context,
                         [this, follow](QScreen* screen) {
                             follow(screen);
                             observers.notify();
                         });
        QObject::connect(application, &QGuiApplication::screenRemoved, &context,
                         [this] { observers.notify(); });
        QObject::connect(application, &QGuiApplication::primaryScreenChanged, &context,
                         [this] { observers.notify(); });
    }

    std::vector<Screen> screens() override {
        std::vector<Screen> result;
        if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
            return result;
        for (const QScreen* screen : QGuiApplication::screens())
            result.push_back(describe(*screen));
        return result;
    }
    std::optional<Screen> mainScreen() override {
        if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
            return std::nullopt;
        const QScreen* primary = QGuiApplication::primaryScreen();
        if (!primary)
            return std::nullopt;
        return describe(*primary);
    }
    ObserverList<>::Id addChangeObserver(std::function<void()> handler) override {
        return observers.add(std::move(handler));
    }
    void removeChangeObserver(ObserverList<>::Id id) override { observers.remove(id); }

  private:
    ObserverList<> observers;
    QObject context;  // the connections end with this object
};

}  // namespace

std::unique_ptr<Screens> Screens::createDefault() {
    if (auto randr = x11::RandrScreens::connect())
        return randr;
    return std::make_unique<QtScreens>();
}

}  // namespace platform
