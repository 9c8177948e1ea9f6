// The cover window and the input swallowing both lock-screen windows share.
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>

#include "LockScreenFixture.h"
#include "lockscreen/CoverWindow.h"

namespace {

using CoverWindowTest = LockScreenFixture;

TEST_F(CoverWindowTest, CoversItsScreenInTheLockColourWithoutTakingTheFocus) {
    const QRect frame(1280, 0, 1920, 1080);  // no screen of the toolkit's: covered all the same

    CoverWindow cover(frame);

    EXPECT_EQ(cover.geometry(), frame);
    EXPECT_EQ(cover.palette().color(QPalette::Window), QColor(65, 68, 75));
    EXPECT_TRUE(cover.windowFlags() & Qt::X11BypassWindowManagerHint);
    EXPECT_TRUE(cover.windowFlags() & Qt::WindowDoesNotAcceptFocus);
}

TEST_F(CoverWindowTest, IsGuardedAsACoverBeforeItIsShownAndUntilItGoes) {
    {
        CoverWindow cover(QGuiApplication::primaryScreen()->geometry());
        ASSERT_EQ(guards->records.size(), 1u);
        EXPECT_EQ(guards->records[0].role, platform::WindowGuards::Role::coverWindow);
        EXPECT_FALSE(guards->records[0].windowWasVisible);
        EXPECT_EQ(guards->liveGuards(), 1u);
    }
    EXPECT_EQ(guards->liveGuards(), 0u);
}

TEST_F(CoverWindowTest, KeysClicksAndShortcutsEndAtTheWindow) {
    BorderlessKeyWindow window;
    QKeyEvent key(QEvent::KeyPress, Qt::Key_Tab, Qt::AltModifier);
    QKeyEvent shortcut(QEvent::ShortcutOverride, Qt::Key_Q, Qt::ControlModifier);
    QMouseEvent click(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    key.ignore();
    shortcut.ignore();
    click.ignore();

    EXPECT_TRUE(QCoreApplication::sendEvent(&window, &key));
    EXPECT_TRUE(QCoreApplication::sendEvent(&window, &shortcut));
    EXPECT_TRUE(QCoreApplication::sendEvent(&window, &click));

    EXPECT_TRUE(key.isAccepted());
    EXPECT_TRUE(shortcut.isAccepted());
    EXPECT_TRUE(click.isAccepted());
}

}  // namespace
