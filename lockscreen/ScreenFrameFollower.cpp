// The geometry defence: after any change of the monitors or of the root window (the toolkit turns
// both into screen signals) the lock and cover windows cover their screen again, with no gap.
#include "lockscreen/ScreenFrameFollower.h"

#include <QGuiApplication>

ScreenFrameFollower::FrameSource ScreenFrameFollower::primaryScreenFrame() {
    return []() -> std::optional<QRect> {
        if (QScreen* screen = QGuiApplication::primaryScreen())
            return screen->geometry();
        return std::nullopt;
    };
}

ScreenFrameFollower::FrameSource ScreenFrameFollower::frameOfScreen(QScreen* screen) {
    return [watched = QPointer<QScreen>(screen)]() -> std::optional<QRect> {
        if (watched)
            return watched->geometry();
        return std::nullopt;
    };
}

ScreenFrameFollower::ScreenFrameFollower(QWidget& window, FrameSource source)
    : QObject(&window), window(window), source(std::move(source)) {
    auto* application = qGuiApp;
    connect(application, &QGuiApplication::screenAdded, this, [this](QScreen* screen) {
        watchScreen(screen);
        rebuild();
    });
    connect(application, &QGuiApplication::screenRemoved, this, &ScreenFrameFollower::rebuild);
    connect(application, &QGuiApplication::primaryScreenChanged, this,
            &ScreenFrameFollower::rebuild);
    for (QScreen* screen : QGuiApplication::screens())
        watchScreen(screen);
    rebuild();
}

void ScreenFrameFollower::watchScreen(QScreen* screen) {
    connect(screen, &QScreen::geometryChanged, this, &ScreenFrameFollower::rebuild);
}

void ScreenFrameFollower::rebuild() {
    const std::optional<QRect> frame = source ? source() : std::nullopt;
    if (frame && frame->isValid() && window.geometry() != *frame)
        window.setGeometry(*frame);
}
