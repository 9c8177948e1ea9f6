// Keeps a window over its screen: the frame comes from a source (the primary screen's geometry, or
// one screen's) and is rebuilt whenever screens are added, removed, resized or change role.
#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QScreen>
#include <QWidget>
#include <functional>
#include <optional>

class ScreenFrameFollower : public QObject {
    Q_OBJECT

  public:
    // None keeps the window's frame as it is (no such screen).
    using FrameSource = std::function<std::optional<QRect>()>;

    static FrameSource primaryScreenFrame();
    static FrameSource frameOfScreen(QScreen* screen);

    // Sets the frame at once; the follower is a child of the window and lives as long as it.
    ScreenFrameFollower(QWidget& window, FrameSource source);

    // Applies the source's frame now; run on every screen change.
    void rebuild();

  private:
    void watchScreen(QScreen* screen);

    QWidget& window;
    FrameSource source;
};
