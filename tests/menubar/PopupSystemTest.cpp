// The status item: the deferred opening, the toggling click, the closing by a click elsewhere,
// the icon by appearance and open state, and where the popover is placed.
#include <gtest/gtest.h>

#include <QSystemTrayIcon>

#include "MenubarTestEnvironment.h"
#include "menubar/PopoverWindow.h"
#include "menubar/PopupSystem.h"
#include "resources/NamedImage.h"

namespace {

using menubar_test::MenubarTest;

class PopupSystemTest : public MenubarTest {
  protected:
    void SetUp() override {
        MenubarTest::SetUp();
        content = std::make_unique<QWidget>();
        content->setFixedSize(320, 420);
        popup = std::make_unique<PopupSystem>(content.get(),
                                              namedImage(QStringLiteral("AppMenuBarIconBlack")),
                                              namedImage(QStringLiteral("AppMenuBarIconWhite")));
        popup->darkModeOn = [this] { return dark; };
        popup->focusOnApplication = [this](const QString& id) { focused.push_back(id); };
        popup->onWillShowPopover = [this] { ++willShow; };
    }
    void TearDown() override {
        popup.reset();
        content.reset();
        MenubarTest::TearDown();
    }
    void openNow() {
        popup->showPopover();
        mainQueue->runAll();
    }

    std::unique_ptr<QWidget> content;
    std::unique_ptr<PopupSystem> popup;
    bool dark = false;
    std::vector<QString> focused;
    int willShow = 0;
};

TEST_F(PopupSystemTest, ShowingOpensOnALaterTurn) {
    popup->showPopover();

    EXPECT_FALSE(popup->isActive());
    EXPECT_FALSE(popup->popoverWindow()->isVisible());
    EXPECT_EQ(mainQueue->runAll(), 1);
    EXPECT_TRUE(popup->isActive());
    EXPECT_TRUE(popup->popoverWindow()->isVisible());
    EXPECT_TRUE(content->isVisible());
}

TEST_F(PopupSystemTest, ShowingTellsTheOwnerFirstAndActivatesVaultine) {
    popup->showPopover();

    EXPECT_EQ(willShow, 1);
    EXPECT_EQ(focused, std::vector<QString>{QStringLiteral("org.vaultine.Vaultine")});
}

TEST_F(PopupSystemTest, ShowingWhileOpenTellsAndActivatesButOpensNothing) {
    openNow();

    popup->showPopover();

    EXPECT_EQ(willShow, 2);
    EXPECT_EQ(focused.size(), 2u);
    EXPECT_EQ(mainQueue->pendingCount(), 0u);
    EXPECT_TRUE(popup->isActive());
}

TEST_F(PopupSystemTest, ClickingTwiceOpensThenCloses) {
    popup->mouseDown();
    mainQueue->runAll();
    EXPECT_TRUE(popup->isActive());
    EXPECT_EQ(popup->itemLook(), PopupSystem::ItemLook::highlighted);

    popup->mouseDown();

    EXPECT_FALSE(popup->isActive());
    EXPECT_FALSE(popup->popoverWindow()->isVisible());
    EXPECT_EQ(popup->itemLook(), PopupSystem::ItemLook::light);
}

TEST_F(PopupSystemTest, ClosingByAClickElsewhereFollowsThePopover) {
    openNow();

    popup->popoverWindow()->close();

    EXPECT_FALSE(popup->isActive());
    EXPECT_EQ(popup->itemLook(), PopupSystem::ItemLook::light);
}

TEST_F(PopupSystemTest, TheClickOnTheItemThatClosedThePopoverDoesNotReopenIt) {
    openNow();
    popup->popoverWindow()->close();

    popup->mouseDown();

    EXPECT_EQ(mainQueue->pendingCount(), 0u);
    EXPECT_FALSE(popup->isActive());
}

TEST_F(PopupSystemTest, HidingAClosedPopoverChangesNothing) {
    popup->hidePopover();

    EXPECT_FALSE(popup->isActive());
    EXPECT_FALSE(popup->popoverWindow()->isVisible());
}

TEST_F(PopupSystemTest, DarkAppearanceShowsTheWhiteIconWhenClosed) {
    dark = true;

    popup->drawRect();
    EXPECT_EQ(popup->itemLook(), PopupSystem::ItemLook::dark);

    dark = false;
    popup->drawRect();
    EXPECT_EQ(popup->itemLook(), PopupSystem::ItemLook::light);
}

TEST_F(PopupSystemTest, AChangeOfTheDesktopPaletteDrawsTheItemAgain) {
    dark = true;

    QEvent change(QEvent::ApplicationPaletteChange);
    QCoreApplication::sendEvent(qApp, &change);

    EXPECT_EQ(popup->itemLook(), PopupSystem::ItemLook::dark);
}

TEST_F(PopupSystemTest, ContentSurvivesThePopupSystem) {
    popup.reset();

    EXPECT_EQ(content->parentWidget(), nullptr);
}

TEST(PopoverPlacement, BelowAnAnchorInTheTopHalfCentredOnIt) {
    const QRect anchor(1000, 0, 24, 24);

    const QPoint position =
        PopoverWindow::positionFor(anchor, QSize(320, 420), QRect(0, 0, 2560, 1024));

    EXPECT_EQ(position, QPoint(anchor.center().x() - 160, 24 + PopoverWindow::ANCHOR_GAP));
}

TEST(PopoverPlacement, AboveAnAnchorInTheBottomHalf) {
    const QPoint position = PopoverWindow::positionFor(QRect(1000, 1000, 24, 24), QSize(320, 420),
                                                       QRect(0, 0, 2560, 1024));

    EXPECT_EQ(position.y(), 1000 - PopoverWindow::ANCHOR_GAP - 420);
}

TEST(PopoverPlacement, StaysInsideTheScreen) {
    const QPoint position = PopoverWindow::positionFor(QRect(2550, 0, 10, 10), QSize(320, 420),
                                                       QRect(0, 0, 2560, 1024));

    EXPECT_EQ(position.x(), 2560 - 320);
}

}  // namespace
