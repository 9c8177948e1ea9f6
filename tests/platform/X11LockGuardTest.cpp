// The X11 defences of a guarded window over a fake server and a hand-stepped timer: grabs before
// and after mapping, retry every 100 ms, focus and one log line on refusal, re-taking, re-raising,
// undoing what another client does to the window, and the relay that keeps the grabs across a
// rebuilt lock.
#include <gtest/gtest.h>

#include "platform/linux/X11LockGuard.h"
#include "platform/testing/FakeX11Server.h"
#include "platform/testing/ManualGuardTimer.h"

using platform::testing::FakeX11Server;
using platform::testing::ManualGuardTimer;
using platform::x11::X11LockGuard;

namespace {

constexpr platform::x11::WindowId lockWindow = 42;

class X11LockGuardTest : public ::testing::Test {
  protected:
    X11LockGuardTest()
        : timer(std::make_shared<ManualGuardTimer::State>()),
          guard(server, std::make_unique<ManualGuardTimer>(timer), lockWindow) {
        guard.onLog = [this](const QString& line) { log.push_back(line); };
    }
    void advance(int intervals = 1) { ManualGuardTimer::advance(*timer, intervals); }

    FakeX11Server server;
    std::shared_ptr<ManualGuardTimer::State> timer;
    X11LockGuard guard;
    std::vector<QString> log;
};

TEST_F(X11LockGuardTest, GrabsOnTheRootAtOnceWhileTheWindowIsNotMapped) {
    guard.setInputWanted(true);

    EXPECT_EQ(server.keyboardGrabWindow, FakeX11Server::root);
    EXPECT_EQ(server.pointerGrabWindow, FakeX11Server::root);
    EXPECT_TRUE(guard.holdsKeyboard());
    EXPECT_TRUE(guard.holdsPointer());
}

TEST_F(X11LockGuardTest, MovesTheGrabsOntoTheWindowWhenItMapsAndRaisesIt) {
    guard.setInputWanted(true);

    guard.windowMapped();

    EXPECT_EQ(server.keyboardGrabWindow, lockWindow);
    EXPECT_EQ(server.pointerGrabWindow, lockWindow);
    EXPECT_EQ(server.raised, (std::vector<platform::x11::WindowId>{lockWindow}));
}

TEST_F(X11LockGuardTest, RetriesARefusedKeyboardGrabEvery100msUntilItSucceeds) {
    server.keyboardTakenByOther = true;
    guard.windowMapped();
    guard.setInputWanted(true);
    ASSERT_TRUE(timer->running);
    EXPECT_EQ(timer->intervalMs, 100);
    EXPECT_EQ(server.keyboardGrabAttempts, 1);

    advance(3);
    EXPECT_EQ(server.keyboardGrabAttempts, 4);
    EXPECT_FALSE(guard.holdsKeyboard());

    server.keyboardTakenByOther = false;
    advance();
    EXPECT_TRUE(guard.holdsKeyboard());
    EXPECT_EQ(server.keyboardGrabWindow, lockWindow);
}

TEST_F(X11LockGuardTest, RetriesARefusedPointerGrabWithoutLosingTheKeyboard) {
    server.pointerTakenByOther = true;
    guard.windowMapped();
    guard.setInputWanted(true);
    EXPECT_TRUE(guard.holdsKeyboard());
    EXPECT_FALSE(guard.holdsPointer());

    server.pointerTakenByOther = false;
    advance();

    EXPECT_TRUE(guard.holdsPointer());
    EXPECT_EQ(server.keyboardGrabWindow, lockWindow);
}

TEST_F(X11LockGuardTest, MovesTheFocusToTheWindowWhenAGrabIsRefused) {
    server.keyboardTakenByOther = true;
    guard.windowMapped();

    guard.setInputWanted(true);
    advance(2);

    EXPECT_EQ(server.focused, (std::vector<platform::x11::WindowId>(3, lockWindow)));
}

TEST_F(X11LockGuardTest, LogsOneLinePerStreakOfRefusals) {
    server.keyboardTakenByOther = true;
    guard.windowMapped();
    guard.setInputWanted(true);
    advance(5);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(log.front().contains(QStringLiteral("keyboard")));

    server.keyboardTakenByOther = false;
    advance();
    server.keyboardTakenByOther = true;
    guard.grabMayBeLost();
    advance();

    EXPECT_EQ(log.size(), 2u);
}

TEST_F(X11LockGuardTest, HeldGrabsAreNotRequestedAgainOnEveryTick) {
    guard.windowMapped();
    guard.setInputWanted(true);
    const int attempts = server.keyboardGrabAttempts;

    advance(X11LockGuard::ticksPerRefresh - 1);

    EXPECT_EQ(server.keyboardGrabAttempts, attempts);
}

TEST_F(X11LockGuardTest, HeldGrabsAreReassertedEverySecond) {
    guard.windowMapped();
    guard.setInputWanted(true);
    const int attempts = server.keyboardGrabAttempts;

    advance(X11LockGuard::ticksPerRefresh);

    EXPECT_EQ(server.keyboardGrabAttempts, attempts + 1);
    EXPECT_EQ(server.pointerGrabAttempts, attempts + 1);
}

TEST_F(X11LockGuardTest, GrabsReportedLostAreTakenAgainOnTheNextTick) {
    guard.windowMapped();
    guard.setInputWanted(true);
    server.ungrabKeyboard();  // someone made the server drop it

    guard.grabMayBeLost();
    advance();

    EXPECT_EQ(server.keyboardGrabWindow, lockWindow);
    EXPECT_TRUE(guard.holdsKeyboard());
}

TEST_F(X11LockGuardTest, UnmappingMovesTheGrabsBackToTheRoot) {
    guard.windowMapped();
    guard.setInputWanted(true);

    guard.windowUnmapped();

    EXPECT_EQ(server.keyboardGrabWindow, FakeX11Server::root);
    EXPECT_EQ(server.pointerGrabWindow, FakeX11Server::root);
}

TEST_F(X11LockGuardTest, NoLongerWantedReleasesBothGrabsAndStopsTheTimer) {
    guard.windowMapped();
    guard.setInputWanted(true);

    guard.setInputWanted(false);

    EXPECT_EQ(server.keyboardGrabWindow, 0u);
    EXPECT_EQ(server.pointerGrabWindow, 0u);
    EXPECT_FALSE(timer->running);
}

TEST_F(X11LockGuardTest, AGuardThatNeverWantsInputNeverGrabs) {
    guard.windowMapped();
    guard.otherTopLevelChanged();
    guard.tick();

    EXPECT_EQ(server.keyboardGrabAttempts, 0);
    EXPECT_EQ(server.pointerGrabAttempts, 0);
}

TEST_F(X11LockGuardTest, ReraisesTheWindowWheneverAnotherTopLevelWindowChanges) {
    guard.windowMapped();

    guard.otherTopLevelChanged();
    guard.otherTopLevelChanged();

    EXPECT_EQ(server.raised.size(), 3u);
}

TEST_F(X11LockGuardTest, TakesTheFocusBackWhenAnotherTopLevelWindowMapsUnderTheLock) {
    guard.windowMapped();
    guard.setInputWanted(true);
    server.focused.clear();

    guard.otherTopLevelChanged();

    EXPECT_EQ(server.focused, std::vector<platform::x11::WindowId>({lockWindow}));
}

TEST_F(X11LockGuardTest, DoesNotRaiseAWindowThatIsNotMapped) {
    guard.otherTopLevelChanged();

    EXPECT_TRUE(server.raised.empty());
}

TEST_F(X11LockGuardTest, AWindowUnmappedByAnotherClientIsMappedAgainAndOneHiddenByUsIsNot) {
    bool shown = true;
    guard.shouldBeMapped = [&shown] { return shown; };
    guard.windowMapped();

    guard.windowUnmapped();
    EXPECT_EQ(server.mapped, (std::vector<platform::x11::WindowId>{lockWindow}));

    shown = false;
    guard.windowUnmapped();
    EXPECT_EQ(server.mapped.size(), 1u);
}

TEST_F(X11LockGuardTest, AWindowMovedOrResizedByAnotherClientGetsItsFrameBack) {
    const QRect screen(0, 0, 1280, 1024);
    guard.wantedFrame = [screen] { return std::optional<QRect>(screen); };
    guard.windowMapped();

    guard.windowConfigured(screen);
    EXPECT_TRUE(server.frames.empty());

    guard.windowConfigured(QRect(0, 0, 200, 200));
    guard.windowConfigured(QRect(900, 0, 1280, 1024));
    EXPECT_EQ(server.frames, (std::vector<QRect>{screen, screen}));
}

TEST_F(X11LockGuardTest, AWindowLoweredBelowAnotherClientsWindowIsRaisedOnlyThen) {
    guard.windowMapped();
    server.raised.clear();

    guard.windowRestacked();  // among our own windows: nothing foreign above
    EXPECT_TRUE(server.raised.empty());

    server.otherWindowOnTop = true;
    guard.windowRestacked();
    guard.windowConfigured(QRect(0, 0, 10, 10));
    EXPECT_EQ(server.raised.size(), 2u);
}

TEST_F(X11LockGuardTest, AnOpacityOrAShapeSetByAnotherClientIsTakenAway) {
    guard.windowMapped();

    guard.windowMadeTransparent();
    guard.windowShaped();

    EXPECT_EQ(server.opacityRemoved, (std::vector<platform::x11::WindowId>{lockWindow}));
    EXPECT_EQ(server.shapeRemoved, (std::vector<platform::x11::WindowId>{lockWindow}));
}

TEST_F(X11LockGuardTest, AWindowMovedIntoAnotherWindowGoesBackToTheRoot) {
    guard.windowMapped();

    guard.windowReparented();

    EXPECT_EQ(server.reparentedToRoot, (std::vector<platform::x11::WindowId>{lockWindow}));
}

TEST_F(X11LockGuardTest, AGuardHandedOverRestoresNothingOfItsClosingWindow) {
    guard.shouldBeMapped = [] { return true; };
    guard.wantedFrame = [] { return std::optional<QRect>(QRect(0, 0, 1280, 1024)); };
    guard.windowMapped();

    guard.handOver();
    guard.windowUnmapped();
    guard.windowConfigured(QRect(0, 0, 1, 1));

    EXPECT_TRUE(server.mapped.empty());
    EXPECT_TRUE(server.frames.empty());
}

TEST(X11LockGuardLifetime, DestroyingAGuardThatHeldInputReleasesTheGrabs) {
    FakeX11Server server;
    {
        X11LockGuard guard(
            server, std::make_unique<ManualGuardTimer>(std::make_shared<ManualGuardTimer::State>()),
            lockWindow);
        guard.windowMapped();
        guard.setInputWanted(true);
        ASSERT_EQ(server.keyboardGrabWindow, lockWindow);
    }
    EXPECT_EQ(server.keyboardGrabWindow, 0u);
    EXPECT_EQ(server.pointerGrabWindow, 0u);
}

TEST(GrabRelay, ARebuiltLockNeverLetsGoOfTheGrabs) {
    FakeX11Server server;
    auto timer = std::make_shared<ManualGuardTimer::State>();
    platform::x11::GrabRelay relay;
    auto closing = std::make_unique<X11LockGuard>(server, std::make_unique<ManualGuardTimer>(timer),
                                                  lockWindow);
    closing->setInputWanted(true);
    closing->windowMapped();
    ASSERT_EQ(server.keyboardGrabWindow, lockWindow);

    relay.keep(std::move(closing));
    // On the root before the closing window stops being viewable, which would end the grabs.
    EXPECT_EQ(server.keyboardGrabWindow, FakeX11Server::root);
    EXPECT_EQ(server.pointerGrabWindow, FakeX11Server::root);

    auto nextTimer = std::make_shared<ManualGuardTimer::State>();
    X11LockGuard next(server, std::make_unique<ManualGuardTimer>(nextTimer), lockWindow + 1);
    next.onInputHeld = [&relay] { relay.grabsTakenOver(); };
    next.setInputWanted(true);
    next.windowMapped();
    ManualGuardTimer::advance(*nextTimer, 20);

    EXPECT_FALSE(relay.holdsGrabs());
    EXPECT_EQ(server.keyboardGrabWindow, lockWindow + 1);
    EXPECT_EQ(server.ungrabs, 0);
}

TEST(GrabRelay, ReleasingTheKeptGrabsGivesThemBack) {
    FakeX11Server server;
    auto timer = std::make_shared<ManualGuardTimer::State>();
    platform::x11::GrabRelay relay;
    int dropped = 0;
    relay.onDrop = [&dropped](X11LockGuard&) { ++dropped; };
    auto closing = std::make_unique<X11LockGuard>(server, std::make_unique<ManualGuardTimer>(timer),
                                                  lockWindow);
    closing->setInputWanted(true);
    relay.keep(std::move(closing));

    relay.release();

    EXPECT_EQ(server.keyboardGrabWindow, 0u);
    EXPECT_EQ(server.pointerGrabWindow, 0u);
    EXPECT_EQ(dropped, 1);
}

}  // namespace
