// The first-run greeting: its three buttons, the hand-over of the callbacks at present, and the
// quit button ending the process with status 0.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "WindowsTestEnvironment.h"
#include "windows/GreetingsWindowPresenter.h"

namespace {

class Greeting : public windows_test::WindowsTest {
  protected:
    void clickButton(const char* name) {
        auto* button =
            presenter.greetingsWindowController().window()->findChild<QPushButton*>(name);
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton);
    }

    GreetingsWindowPresenter presenter;
    int setupRequests = 0;
    int helpRequests = 0;
};

TEST_F(Greeting, PresentShowsTheWelcomeWindow) {
    presenter.present();
    QWidget* window = presenter.greetingsWindowController().window();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->findChild<QLabel*>("titleLabel")->text(), "Welcome to Vaultine");
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

TEST_F(Greeting, SetUpPasswordButtonAsksTheOwner) {
    presenter.onSetupPasswordRequest = [this] { ++setupRequests; };
    presenter.present();
    clickButton("setupPasswordButton");
    EXPECT_EQ(setupRequests, 1);
}

TEST_F(Greeting, HelpButtonAsksTheOwnerAndLeavesTheGreetingOpen) {
    presenter.onHelpRequest = [this] { ++helpRequests; };
    presenter.present();
    clickButton("helpButton");
    clickButton("helpButton");
    EXPECT_EQ(helpRequests, 2);
    EXPECT_TRUE(presenter.greetingsWindowController().window()->isVisible());
}

TEST_F(Greeting, CallbacksSetAfterPresentDoNotReachTheWindow) {
    presenter.present();
    presenter.onSetupPasswordRequest = [this] { ++setupRequests; };
    clickButton("setupPasswordButton");
    EXPECT_EQ(setupRequests, 0);
}

TEST_F(Greeting, QuitButtonEndsTheProcessWithStatusZero) {
    std::vector<int> statuses;
    presenter.greetingsWindowController().exitProcess = [&](int status) {
        statuses.push_back(status);
    };
    presenter.present();
    clickButton("quitButton");
    EXPECT_EQ(statuses, std::vector<int>{0});
}

TEST_F(Greeting, StopServiceClosesTheWindow) {
    presenter.present();
    presenter.stopService();
    EXPECT_FALSE(presenter.greetingsWindowController().window()->isVisible());
}

using GreetingQuitDeathTest = windows_test::WindowsTest;

TEST_F(GreetingQuitDeathTest, TheRealQuitEndsTheProcessAtOnceWithStatusZero) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            GreetingsWindowController controller;
            controller.quitButtonClick();
            std::fprintf(stderr, "still running");
        },
        ::testing::ExitedWithCode(0), ::testing::Not(::testing::HasSubstr("still running")));
}

}  // namespace
