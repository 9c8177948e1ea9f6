// The quit path: the terminate notification with our bundle identifier, the bounded wait for
// Corvane to go, and the exit with status 0.
#include <gtest/gtest.h>

#include "app/SafeQuitService.h"
#include "platform/testing/Doubles.h"
#include "platform/testing/FakeDistributedNotificationCenter.h"
#include "platform/testing/FakeGuard.h"
#include "storage/ConfigurationAndPreferencesService.h"

using namespace std::chrono_literals;

namespace {

class SafeQuitServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::testing::installMainBundle(QStringLiteral("org.vaultine.Vaultine"));
        auto center = std::make_unique<platform::testing::FakeDistributedNotificationCenter>();
        notifications = center.get();
        platform::DistributedNotificationCenter::install(std::move(center));
        service.exitProcess = [this](int status) {
            exitStatus = status;
            postedBeforeExit = notifications->posted.size();
        };
        service.helperIsRunning = [this] {
            ++helperChecks;
            return helperChecks <= helperStaysFor;
        };
    }
    platform::testing::FakeDistributedNotificationCenter* notifications = nullptr;
    SafeQuitService service;
    std::optional<int> exitStatus;
    std::size_t postedBeforeExit = 0;
    int helperChecks = 0;
    int helperStaysFor = 0;
};

TEST_F(SafeQuitServiceTest, PostsTheTerminateNotificationWithOurIdentifierThenExitsWithZero) {
    service.quitApplication();
    ASSERT_EQ(notifications->posted.size(), 1u);
    EXPECT_EQ(notifications->posted[0].name, QStringLiteral("TERMINATE_HELPER_VAULTINE"));
    EXPECT_EQ(notifications->posted[0].object, QStringLiteral("org.vaultine.Vaultine"));
    EXPECT_EQ(exitStatus, 0);
    EXPECT_EQ(postedBeforeExit, 1u);
}

TEST_F(SafeQuitServiceTest, TheSystemGuardStopsHoldingWithThePasswordBeforeCorvaneIsTold) {
    platform::SecretStore::install(std::make_unique<platform::testing::FakeSecretStore>());
    platform::UserDefaults::install(std::make_unique<platform::testing::InMemoryUserDefaults>());
    ConfigurationAndPreferencesService::sharedInstance().setApplicationPassword(
        QStringLiteral("Secret 1"));
    auto fake = std::make_unique<platform::testing::FakeGuard>();
    platform::testing::FakeGuard* guard = fake.get();
    guard->enrolled = QStringLiteral("Secret 1");
    guard->present = true;
    platform::Guard::install(std::move(fake));

    service.quitApplication();

    ASSERT_EQ(guard->changes.size(), 1u);
    EXPECT_EQ(guard->changes[0].change, platform::Guard::Change::switchOff);
    EXPECT_EQ(guard->changes[0].password, QStringLiteral("Secret 1"));
    EXPECT_EQ(exitStatus, 0);
}

TEST_F(SafeQuitServiceTest, WaitsUntilCorvaneHasGoneBeforeExiting) {
    helperStaysFor = 3;
    service.quitApplication();
    EXPECT_EQ(helperChecks, 4);
    EXPECT_EQ(exitStatus, 0);
}

TEST_F(SafeQuitServiceTest, ExitsAllTheSameWhenCorvaneStaysPastTheTimeout) {
    helperStaysFor = 1'000'000;
    service.helperExitTimeout = 30ms;
    service.quitApplication();
    EXPECT_EQ(exitStatus, 0);
}

TEST_F(SafeQuitServiceTest, ExitsWithoutASessionBus) {
    notifications->connected = false;
    service.quitApplication();
    EXPECT_EQ(exitStatus, 0);
}

}  // namespace
