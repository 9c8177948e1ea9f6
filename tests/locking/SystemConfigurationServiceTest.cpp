// The appearance test (lower-cased comparison with "dark", text only) and the login-item switch,
// which always concerns Corvane and reports the platform's answer.
#include <gtest/gtest.h>

#include "locking/CurrentMonitoredApplicationService.h"
#include "locking/SystemConfigurationService.h"
#include "platform/testing/Doubles.h"
#include "platform/testing/FakeAppearance.h"
#include "platform/testing/FakeLoginItems.h"

using platform::testing::FakeAppearance;
using platform::testing::FakeLoginItems;

namespace {

class SystemConfigurationServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto fakeAppearance = std::make_unique<FakeAppearance>();
        appearance = fakeAppearance.get();
        platform::Appearance::install(std::move(fakeAppearance));
        auto fakeLoginItems = std::make_unique<FakeLoginItems>();
        loginItems = fakeLoginItems.get();
        platform::LoginItems::install(std::move(fakeLoginItems));
    }
    FakeAppearance* appearance = nullptr;
    FakeLoginItems* loginItems = nullptr;
    SystemConfigurationService service;
};

TEST_F(SystemConfigurationServiceTest, DarkInAnyCaseIsDark) {
    appearance->style = QStringLiteral("Dark");
    EXPECT_TRUE(service.darkModeOn());
    appearance->style = QStringLiteral("dark");
    EXPECT_TRUE(service.darkModeOn());
    appearance->style = QStringLiteral("DARK");
    EXPECT_TRUE(service.darkModeOn());
}

TEST_F(SystemConfigurationServiceTest, AbsentOtherOrNonTextEntryIsNotDark) {
    appearance->style = QVariant();
    EXPECT_FALSE(service.darkModeOn());
    appearance->style = QStringLiteral("Light");
    EXPECT_FALSE(service.darkModeOn());
    appearance->style = QStringLiteral("dark ");
    EXPECT_FALSE(service.darkModeOn());
    appearance->style = 1;
    EXPECT_FALSE(service.darkModeOn());
}

TEST_F(SystemConfigurationServiceTest, AppearanceIsReadAfreshOnEveryCall) {
    service.darkModeOn();
    appearance->style = QStringLiteral("Dark");
    EXPECT_TRUE(service.darkModeOn());
    EXPECT_EQ(appearance->reads, 2);
}

TEST_F(SystemConfigurationServiceTest, StartAtLoginSwitchesCorvaneNeverVaultine) {
    EXPECT_TRUE(service.startAtLogin(true));
    EXPECT_TRUE(service.startAtLogin(false));
    ASSERT_EQ(loginItems->requests.size(), 2u);
    EXPECT_EQ(loginItems->requests[0],
              std::make_pair(QStringLiteral("org.vaultine.Corvane"), true));
    EXPECT_EQ(loginItems->requests[1],
              std::make_pair(QStringLiteral("org.vaultine.Corvane"), false));
}

TEST_F(SystemConfigurationServiceTest, RefusedChangeIsReportedAsFalse) {
    loginItems->refuseChanges = true;
    EXPECT_FALSE(service.startAtLogin(true));
    EXPECT_FALSE(service.startAtLogin(false));
}

class CurrentMonitoredApplicationServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto userDefaults = std::make_unique<platform::testing::InMemoryUserDefaults>();
        defaults = userDefaults.get();
        platform::UserDefaults::install(std::move(userDefaults));
        service.emplace();
    }
    platform::testing::InMemoryUserDefaults* defaults = nullptr;
    std::optional<CurrentMonitoredApplicationService> service;
};

TEST_F(CurrentMonitoredApplicationServiceTest, MarkStoresTheIdentifierUnderCbaal) {
    service->markMinitoredApplication(QStringLiteral("org.example.Editor"));
    EXPECT_EQ(defaults->values.value(QStringLiteral("cbaal")).toString(),
              QStringLiteral("org.example.Editor"));
    EXPECT_EQ(service->currentMonitoredApplication(), QStringLiteral("org.example.Editor"));
}

TEST_F(CurrentMonitoredApplicationServiceTest, UnmarkRemovesTheEntry) {
    service->markMinitoredApplication(QStringLiteral("org.example.Editor"));
    service->unmarkMinitoredApplication();
    EXPECT_FALSE(defaults->values.contains(QStringLiteral("cbaal")));
    EXPECT_FALSE(service->currentMonitoredApplication());
}

TEST_F(CurrentMonitoredApplicationServiceTest, EmptyOrNonTextEntryReadsAsNone) {
    defaults->values.insert(QStringLiteral("cbaal"), QString());
    EXPECT_FALSE(service->currentMonitoredApplication());
    defaults->values.insert(QStringLiteral("cbaal"), 42);
    EXPECT_FALSE(service->currentMonitoredApplication());
}

}  // namespace
