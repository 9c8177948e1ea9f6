// The lock window the GNOME Shell draws: the text typed into a lock reaches the window that showed
// it, and no other; the lock screen chosen for each tier, the GNOME one the gate only while the
// extension does not answer.
#include "lockscreen/GnomeShellLockWindow.h"

#include <gmock/gmock.h>

#include <QDBusConnection>
#include <QStringList>

#include "lockscreen/LockScreen.h"
#include "platform/linux/GnomeShellLock.h"
#include "tests/lockscreen/LockScreenFixture.h"

namespace {

// As read from the socket of the lock with this serial.
void typeInto(platform::GnomeShellLock& shell, unsigned serial, const QString& text) {
    QMetaObject::invokeMethod(&shell, "passwordEntered", Q_ARG(uint, serial), Q_ARG(QString, text));
}

}  // namespace

TEST(GnomeShellLockWindow, PasswordReachesOnlyTheLockShownNow) {
    // No bus: the requests go nowhere, the signals are delivered by hand.
    platform::GnomeShellLock shell(QDBusConnection(QStringLiteral("no bus")));
    QStringList first, second;
    auto earlier = std::make_unique<GnomeShellLockWindow>(shell);
    earlier->passwordEntered = [&first](const QString& text) { first << text; };
    earlier->showServiceWindow(QStringLiteral("Files is locked"), QIcon());
    typeInto(shell, 1, QStringLiteral("typed at the first"));
    earlier->closeServiceWindow();
    GnomeShellLockWindow later(shell);
    later.passwordEntered = [&second](const QString& text) { second << text; };
    later.showServiceWindow(QStringLiteral("Terminal is locked"), QIcon());
    earlier.reset();
    typeInto(shell, 1, QStringLiteral("late for the first"));
    typeInto(shell, 2, QStringLiteral("typed at the second"));
    later.closeServiceWindow();
    typeInto(shell, 2, QStringLiteral("after the close"));
    EXPECT_EQ(first, QStringList({QStringLiteral("typed at the first")}));
    EXPECT_EQ(second, QStringList({QStringLiteral("typed at the second")}));
}

namespace {

struct RecordingLockWindow : LockWindow {
    QStringList* calls;
    explicit RecordingLockWindow(QStringList* calls) : calls(calls) {}
    void showServiceWindow(const QString& message, const QIcon&) override {
        *calls << QStringLiteral("show ") + message;
    }
    void closeServiceWindow() override { *calls << QStringLiteral("close"); }
    void focus() override {}
    void displayErrorMessage(const QString&) override { *calls << QStringLiteral("error"); }
};

}  // namespace

TEST(GnomeShellLockWindow, ALockTheShellRefusesIsShownByOurOwnWindow) {
    platform::GnomeShellLock shell(QDBusConnection(QStringLiteral("no bus")));
    QStringList calls, typed;
    RecordingLockWindow* own = nullptr;
    GnomeShellLockWindow window(shell, [&calls, &own] {
        auto made = std::make_unique<RecordingLockWindow>(&calls);
        own = made.get();
        return made;
    });
    window.passwordEntered = [&typed](const QString& text) { typed << text; };
    window.showServiceWindow(QStringLiteral("Files is locked"), QIcon());
    shell.onLockRefused(7);  // another lock's refusal
    EXPECT_EQ(window.fallbackWindow(), nullptr);
    shell.onLockRefused(1);
    ASSERT_NE(own, nullptr);
    own->passwordEntered(QStringLiteral("typed in our window"));
    window.displayErrorMessage(QString());
    window.closeServiceWindow();
    EXPECT_EQ(calls, QStringList({QStringLiteral("show Files is locked"), QStringLiteral("error"),
                                  QStringLiteral("close")}));
    EXPECT_EQ(typed, QStringList({QStringLiteral("typed in our window")}));
}

namespace {

class LockScreenChoice : public LockScreenFixture {};

}  // namespace

TEST_F(LockScreenChoice, ALockedLaunchIsHeldUntilThePasswordOnlyWhereNothingOfOursHidesIt) {
    using platform::LockTier;
    const platform::Screen second{QStringLiteral("HDMI-1"), QRect(1920, 0, 1280, 1024)};
    const auto x11 = chooseLockScreen(LockTier::x11Covers);
    EXPECT_FALSE(x11->holdsUntilPassword());
    EXPECT_NE(x11->makeCover(second), nullptr);
    EXPECT_FALSE(chooseLockScreen(LockTier::layerShellCovers)->holdsUntilPassword());
    const auto gate = chooseLockScreen(LockTier::gate);
    EXPECT_TRUE(gate->holdsUntilPassword());
    EXPECT_EQ(gate->makeCover(second), nullptr);
    // The GNOME Shell's extension does not answer (no bus): the gate, its lock an ordinary window.
    const auto gnome = chooseLockScreen(
        LockTier::gnomeShellExtension,
        std::make_unique<platform::GnomeShellLock>(QDBusConnection(QStringLiteral("no bus"))));
    EXPECT_TRUE(gnome->holdsUntilPassword());
    EXPECT_EQ(gnome->makeCover(second), nullptr);
    EXPECT_EQ(dynamic_cast<GnomeShellLockWindow*>(gnome->makeLockWindow().get()), nullptr);
}
