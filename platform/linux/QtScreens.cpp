// The screens as Qt reports them: QGuiApplication::screens() in order and the primary screen.
// Without a QGuiApplication (Corvane, plain tests) there are no screens.
#include <QGuiApplication>
#include <QScreen>
#include <memory>

#include "platform/Screens.h"

namespace platform {

namespace {

Screen describe(const QScreen& screen) {
    return {screen.name(), screen.geometry()};
}

class QtScreens : public Screens {
  public:
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
    void addChangeObserver(std::function<void()> handler) override {
        auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
        if (!application)
            return;
        auto shared = std::make_shared<std::function<void()>>(std::move(handler));
        auto follow = [shared](QScreen* screen) {
            QObject::connect(screen, &QScreen::geometryChanged, screen, [shared] { (*shared)(); });
        };
        for (QScreen* screen : QGuiApplication::screens())
            follow(screen);
        QObject::connect(application, &QGuiApplication::screenAdded, application,
                         [shared, follow](QScreen* screen) {
                             follow(screen);
                             (*shared)();
                         });
        QObject::connect(application, &QGuiApplication::screenRemoved, application,
                         [shared] { (*shared)(); });
        QObject::connect(application, &QGuiApplication::primaryScreenChanged, application,
                         [shared] { (*shared)(); });
    }
};

}  // namespace

std::unique_ptr<Screens> Screens::createDefault() {
    return std::make_unique<QtScreens>();
}

}  // namespace platform
