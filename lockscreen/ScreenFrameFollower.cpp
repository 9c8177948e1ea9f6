// The geometry defence: after any change of the screens the lock and cover windows cover their
// screen again, with no gap.
#include "lockscreen/ScreenFrameFollower.h"

#include "platform/Screens.h"

ScreenFrameFollower::FrameSource ScreenFrameFollower::mainScreenFrame() {
    return []() -> std::optional<QRect> {
        if (const auto screen = platform::Screens::shared().mainScreen())
            return screen->frame;
        return std::nullopt;
    };
}

ScreenFrameFollower::ScreenFrameFollower(QWidget& window, FrameSource source)
    : QObject(&window), window(window), source(std::move(source)) {
    // Screen events come on the main thread, as this object lives.
    screensObserver = platform::Screens::shared().addChangeObserver([this] { rebuild(); });
    rebuild();
}

ScreenFrameFollower::~ScreenFrameFollower() {
    platform::Screens::shared().removeChangeObserver(screensObserver);
}

void ScreenFrameFollower::rebuild() {
    const std::optional<QRect> frame = source ? source() : std::nullopt;
    if (frame && frame->isValid() && window.geometry() != *frame)
        window.setGeometry(*frame);
}
