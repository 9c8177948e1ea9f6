// The cover window, the input swallowing both lock-screen windows share, and the parts of the
// display that no monitor shows, which get covers of their own.
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QRegion>
#include <QScreen>

#include "LockScreenFixture.h"
#include "lockscreen/CoverWindow.h"
#include "platform/Screens.h"

namespace {

using CoverWindowTest = LockScreenFixture;

// Whether the parts and the monitors together cover every pixel of `whole`, the parts inside it
// and apart from each other and from the monitors.
bool tilesTheRest(const QRect& whole, const std::vector<QRect>& monitors,
                  const std::vector<QRect>& parts) {
    QRegion covered;
    for (const QRect& monitor : monitors)
        covered += monitor;
    for (const QRect& part : parts) {
        if (!whole.contains(part) || covered.intersects(part))
            return false;
        covered += part;
    }
    return covered.contains(whole) && QRegion(whole).subtracted(covered).isEmpty();
}

TEST(UncoveredParts, ATinyMonitorLeavesTheRestOfTheScreenToCovers) {
    const QRect whole(0, 0, 2560, 1024);
    const std::vector<QRect> tiny = {QRect(0, 0, 200, 200)};

    const auto parts = platform::uncoveredParts(whole, tiny);

    EXPECT_TRUE(tilesTheRest(whole, tiny, parts));
}

TEST(UncoveredParts, MonitorsWithGapsOverlapsAndPartsOutsideTheScreen) {
    const QRect whole(0, 0, 1920, 1080);
    const std::vector<std::vector<QRect>> lists = {
        {},
        {whole},
        {QRect(100, 100, 300, 300), QRect(300, 300, 300, 300)},
        {QRect(-50, -50, 100, 100), QRect(1800, 1000, 500, 500)},
        {QRect(0, 0, 960, 1080), QRect(961, 0, 959, 1080)},  // one column of pixels between
    };
    for (const auto& monitors : lists) {
        std::vector<QRect> inside;
        for (const QRect& monitor : monitors)
            inside.push_back(monitor & whole);
        EXPECT_TRUE(tilesTheRest(whole, inside, platform::uncoveredParts(whole, monitors)));
    }
    EXPECT_TRUE(platform::uncoveredParts(whole, {whole}).empty());
}

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
