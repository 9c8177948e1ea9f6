// The geometry defence: the frame is set at once and applied again on every change of the screens.
#include <gtest/gtest.h>

#include <QWidget>

#include "lockscreen/ScreenFrameFollower.h"
#include "platform/testing/FakeScreens.h"

namespace {

class ScreenFrameFollowerTest : public ::testing::Test {
  protected:
    ScreenFrameFollowerTest() {
        auto fake = std::make_unique<platform::testing::FakeScreens>();
        screens = fake.get();
        platform::Screens::install(std::move(fake));
        frame = QRect(0, 0, 800, 600);
        window = std::make_unique<QWidget>();
        follower = new ScreenFrameFollower(*window, [this] { return frame; });
    }

    platform::testing::FakeScreens* screens = nullptr;
    std::optional<QRect> frame;
    std::unique_ptr<QWidget> window;
    ScreenFrameFollower* follower = nullptr;  // a child of the window
};

TEST_F(ScreenFrameFollowerTest, TakesTheFrameAtOnceAndAgainOnEveryScreenChange) {
    EXPECT_EQ(window->geometry(), QRect(0, 0, 800, 600));

    frame = QRect(1920, 0, 1280, 1024);
    screens->announceChange();

    EXPECT_EQ(window->geometry(), QRect(1920, 0, 1280, 1024));
}

TEST_F(ScreenFrameFollowerTest, WithoutAScreenTheFrameStaysAsItIs) {
    frame.reset();

    follower->rebuild();

    EXPECT_EQ(window->geometry(), QRect(0, 0, 800, 600));
}

TEST_F(ScreenFrameFollowerTest, StopsFollowingWhenItsWindowGoes) {
    window.reset();

    EXPECT_EQ(screens->changeObservers.size(), 0u);
    screens->announceChange();  // nothing left to call
}

TEST_F(ScreenFrameFollowerTest, TheMainScreenSourceGivesTheMainScreensFrame) {
    screens->setFrames({QRect(0, 0, 1280, 1024), QRect(1280, 0, 1920, 1080)});
    screens->mainIndex = 1;
    EXPECT_EQ(ScreenFrameFollower::mainScreenFrame()(), QRect(1280, 0, 1920, 1080));

    screens->mainIndex = -1;
    EXPECT_FALSE(ScreenFrameFollower::mainScreenFrame()().has_value());
}

}  // namespace
