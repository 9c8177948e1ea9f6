// The geometry defence: the frame is set at once and rebuilt on every change of the screens.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "lockscreen/ScreenFrameFollower.h"

namespace {

class ScreenFrameFollowerTest : public ::testing::Test {
  protected:
    ScreenFrameFollowerTest() {
        frame = QRect(0, 0, 800, 600);
        follower = new ScreenFrameFollower(window, [this] { return frame; });
    }

    QWidget window;
    std::optional<QRect> frame;
    ScreenFrameFollower* follower = nullptr;  // a child of the window
};

TEST_F(ScreenFrameFollowerTest, TakesTheScreensFrameAtOnce) {
    EXPECT_EQ(window.geometry(), QRect(0, 0, 800, 600));
}

TEST_F(ScreenFrameFollowerTest, RebuildsWhenAScreensGeometryChanges) {
    frame = QRect(0, 0, 1920, 1080);

    Q_EMIT QGuiApplication::primaryScreen()->geometryChanged(*frame);

    EXPECT_EQ(window.geometry(), QRect(0, 0, 1920, 1080));
}

TEST_F(ScreenFrameFollowerTest, RebuildsWhenThePrimaryScreenChanges) {
    frame = QRect(1920, 0, 1280, 1024);

    Q_EMIT qGuiApp->primaryScreenChanged(QGuiApplication::primaryScreen());

    EXPECT_EQ(window.geometry(), QRect(1920, 0, 1280, 1024));
}

TEST_F(ScreenFrameFollowerTest, RebuildsWhenAScreenIsAddedOrRemoved) {
    frame = QRect(0, 0, 1024, 768);
    Q_EMIT qGuiApp->screenAdded(QGuiApplication::primaryScreen());
    EXPECT_EQ(window.geometry(), QRect(0, 0, 1024, 768));

    frame = QRect(0, 0, 640, 480);
    Q_EMIT qGuiApp->screenRemoved(QGuiApplication::primaryScreen());
    EXPECT_EQ(window.geometry(), QRect(0, 0, 640, 480));
}

TEST_F(ScreenFrameFollowerTest, WithoutAScreenTheFrameStaysAsItIs) {
    frame.reset();

    follower->rebuild();

    EXPECT_EQ(window.geometry(), QRect(0, 0, 800, 600));
}

TEST(ScreenFrameSources, ThePrimarySourceGivesThePrimaryScreensGeometry) {
    EXPECT_EQ(ScreenFrameFollower::primaryScreenFrame()(),
              QGuiApplication::primaryScreen()->geometry());
}

TEST(ScreenFrameSources, AScreenSourceGivesNoneForNoScreen) {
    EXPECT_FALSE(ScreenFrameFollower::frameOfScreen(nullptr)().has_value());
}

}  // namespace
