// Covers on the screens other than the main one, and the screen check that rebuilds the lock when
// the screens change in number, frame or role.
#include "tests/locking/CentralServiceFixture.h"

namespace {

class CentralServiceScreensTest : public CentralServiceTest {
  protected:
    void SetUp() override {
        CentralServiceTest::SetUp();
        install(editorId, QStringLiteral("Editor"), true);
        storePassword();
    }
    void start() {
        makeService();
        service->start();
    }
    void lockEditor() {
        run(editorId, 10);
        willStart(editorId);
    }
    std::vector<QRect> coverFrames() const {
        std::vector<QRect> frames;
        for (const auto& cover : service->extraPasswordWindows())
            frames.push_back(cover->property("screenFrame").toRect());
        return frames;
    }
    const QRect left{0, 0, 1920, 1080};
    const QRect middle{1920, 0, 1280, 1024};
    const QRect right{3200, 0, 1280, 1024};
};

TEST_F(CentralServiceScreensTest, AScreenEventRebuildsTheCoversWithoutWaitingForTheCheck) {
    start();
    lockEditor();
    ASSERT_EQ(shownCovers(), 0u);
    screens->setFrames({left, middle});
    screens->announceChange();
    mainQueue->runAll();
    EXPECT_EQ(coverFrames(), (std::vector<QRect>{middle}));
}

TEST_F(CentralServiceScreensTest, ThreeScreensGiveTwoCoversOnTheOtherScreens) {
    screens->setFrames({left, middle, right});
    start();
    lockEditor();
    EXPECT_EQ(shownCovers(), 2u);
    EXPECT_EQ(coverFrames(), (std::vector<QRect>{middle, right}));
}

TEST_F(CentralServiceScreensTest, OneScreenGivesNoCover) {
    screens->setFrames({left});
    start();
    lockEditor();
    EXPECT_TRUE(service->extraPasswordWindows().empty());
}

TEST_F(CentralServiceScreensTest, CoversSkipTheMainScreenWhereverItIs) {
    screens->setFrames({left, middle});
    screens->mainIndex = 1;
    start();
    lockEditor();
    EXPECT_EQ(coverFrames(), (std::vector<QRect>{left}));
}

TEST_F(CentralServiceScreensTest, AddedScreenWhileLockedRebuildsTheLock) {
    screens->setFrames({left});
    start();
    lockEditor();
    screens->setFrames({left, middle});
    service->checkScreensChange();
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows[0]->closes, 1);
    EXPECT_EQ(current().message, QStringLiteral("Editor is locked"));
    EXPECT_EQ(coverFrames(), (std::vector<QRect>{middle}));
    EXPECT_TRUE(service->applicationIsProtected());
    EXPECT_EQ(cbaal(), editorId);
    EXPECT_EQ(service->lastScreensCount(), 2);
}

TEST_F(CentralServiceScreensTest, RemovedScreenWhileLockedRebuildsWithoutItsCover) {
    screens->setFrames({left, middle, right});
    start();
    lockEditor();
    screens->setFrames({left, right});
    service->checkScreensChange();
    EXPECT_EQ(coverFrames(), (std::vector<QRect>{right}));
}

TEST_F(CentralServiceScreensTest, ResizedScreenWhileLockedRebuildsTheCovers) {
    screens->setFrames({left, middle});
    start();
    lockEditor();
    const QRect larger(1920, 0, 2560, 1440);
    screens->setFrames({left, larger});
    service->checkScreensChange();
    EXPECT_EQ(windows.size(), 2u);
    EXPECT_EQ(coverFrames(), (std::vector<QRect>{larger}));
}

TEST_F(CentralServiceScreensTest, ChangedMainScreenWhileLockedRebuildsTheLock) {
    screens->setFrames({left, middle});
    start();
    lockEditor();
    screens->mainIndex = 1;
    service->checkScreensChange();
    EXPECT_EQ(windows.size(), 2u);
    EXPECT_EQ(coverFrames(), (std::vector<QRect>{left}));
}

TEST_F(CentralServiceScreensTest, UnchangedScreensLeaveTheLockAlone) {
    screens->setFrames({left, middle});
    start();
    lockEditor();
    service->checkScreensChange();
    EXPECT_EQ(windows.size(), 1u);
    EXPECT_EQ(current().closes, 0);
}

TEST_F(CentralServiceScreensTest, ChangeWhileUnlockedOnlyRecordsTheScreens) {
    screens->setFrames({left});
    start();
    screens->setFrames({left, middle});
    service->checkScreensChange();
    EXPECT_TRUE(windows.empty());
    EXPECT_EQ(service->lastScreensCount(), 2);
    lockEditor();
    service->checkScreensChange();
    EXPECT_EQ(windows.size(), 1u);
}

TEST_F(CentralServiceScreensTest, RebuildKeepsTheApplicationsBlockedBehindTheLock) {
    install(mailId, QStringLiteral("Mail"), true);
    start();
    lockEditor();
    run(mailId, 20);
    willStart(mailId);
    screens->setFrames({left, middle});
    service->checkScreensChange();
    ASSERT_EQ(service->blockedBehindCurrentLock().size(), 1u);
    EXPECT_EQ(service->blockedBehindCurrentLock()[0].bundleIdentifier, editorId);
    EXPECT_EQ(current().message, QStringLiteral("Mail is locked"));
}

}  // namespace
