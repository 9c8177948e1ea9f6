// Keeps a window over its screen: the frame comes from a source (the main screen's frame, by
// default) and is applied again whenever the screens are added, removed, resized or change role.
#pragma once

#include <QObject>
#include <QRect>
#include <QWidget>
#include <functional>
#include <optional>

#include "platform/ObserverList.h"

class ScreenFrameFollower : public QObject {
    Q_OBJECT

  public:
    // None keeps the window's frame as it is (no such screen).
    using FrameSource = std::function<std::optional<QRect>()>;

    // The main screen's frame from the platform's screens.
    static FrameSource mainScreenFrame();

    // Sets the frame at once; the follower is a child of the window and lives as long as it.
    ScreenFrameFollower(QWidget& window, FrameSource source);
    ~ScreenFrameFollower() override;

    // Applies the source's frame now; run on every screen change.
    void rebuild();

  private:
    QWidget& window;
    FrameSource source;
    platform::ObserverList<>::Id screensObserver = 0;
};
