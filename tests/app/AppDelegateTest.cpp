// Vaultine's delegate: start-up with and without a password, and the refusal of quit requests and
// of ending when the last window closes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>

#include "app/AppDelegate.h"
#include "platform/testing/Doubles.h"
#include "platform/testing/FakeScreens.h"
#include "platform/testing/FakeWorkspace.h"
#include "storage/ConfigurationAndPreferencesService.h"

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;
using namespace platform::testing;

namespace {

class VaultineAppDelegateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        installMainBundle(QStringLiteral("org.vaultine.Vaultine"));
        auto store = std::make_unique<FakeSecretStore>();
        secrets = store.get();
        platform::SecretStore::install(std::move(store));
        platform::UserDefaults::install(std::make_unique<InMemoryUserDefaults>());
        auto fakeWorkspace = std::make_unique<FakeWorkspace>();
        workspace = fakeWorkspace.get();
        platform::Workspace::install(std::move(fakeWorkspace));
        platform::Screens::install(std::make_unique<FakeScreens>());
        platform::MainQueue::install(std::make_unique<ManualMainQueue>());
        ConfigurationAndPreferencesService::sharedInstance().forgetKeptValues();
    }
    std::size_t corvaneLaunches() const {
        std::size_t count = 0;
        for (const auto& launch : workspace->launches)
            count += launch.bundlePath.endsWith(QStringLiteral("/Corvane.app")) ? 1 : 0;
        return count;
    }
    FakeSecretStore* secrets = nullptr;
    FakeWorkspace* workspace = nullptr;
};

TEST_F(VaultineAppDelegateTest, FirstLaunchWithoutPasswordStartsNeitherMonitoringNorCorvane) {
    AppDelegate delegate;
    CaptureStdout();
    delegate.applicationDidFinishLaunching();
    EXPECT_EQ(GetCapturedStdout(), "Will not start. No password\n");
    ASSERT_NE(delegate.applicationsLockerCentralService(), nullptr);
    EXPECT_FALSE(delegate.applicationsLockerCentralService()->monitoringServiceStarted());
    EXPECT_EQ(corvaneLaunches(), 0u);
}

TEST_F(VaultineAppDelegateTest, LaunchWithStoredPasswordStartsMonitoringAndCorvane) {
    ConfigurationAndPreferencesService::sharedInstance().setApplicationPassword(
        QStringLiteral("Secret 1"));
    AppDelegate delegate;
    CaptureStdout();
    delegate.applicationDidFinishLaunching();
    EXPECT_EQ(GetCapturedStdout(), "Monitoring services started\n");
    EXPECT_TRUE(delegate.applicationsLockerCentralService()->monitoringServiceStarted());
    EXPECT_EQ(corvaneLaunches(), 1u);
}

TEST_F(VaultineAppDelegateTest, QuitRequestToTheApplicationIsRefused) {
    AppDelegate delegate;
    auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
    ASSERT_NE(application, nullptr);
    const bool quitOnLastWindow = application->quitOnLastWindowClosed();
    delegate.attach(*application);
    QEvent quit(QEvent::Quit);
    EXPECT_TRUE(delegate.eventFilter(application, &quit));
    EXPECT_FALSE(delegate.applicationShouldTerminate());
    application->removeEventFilter(&delegate);
    application->setQuitOnLastWindowClosed(quitOnLastWindow);
}

TEST_F(VaultineAppDelegateTest, ClosingTheLastWindowDoesNotEndTheProgram) {
    AppDelegate delegate;
    auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
    ASSERT_NE(application, nullptr);
    const bool quitOnLastWindow = application->quitOnLastWindowClosed();
    delegate.attach(*application);
    EXPECT_FALSE(application->quitOnLastWindowClosed());
    EXPECT_FALSE(delegate.applicationShouldTerminateAfterLastWindowClosed());
    application->removeEventFilter(&delegate);
    application->setQuitOnLastWindowClosed(quitOnLastWindow);
}

TEST_F(VaultineAppDelegateTest, OtherEventsPassThrough) {
    AppDelegate delegate;
    QEvent other(QEvent::User);
    EXPECT_FALSE(delegate.eventFilter(QCoreApplication::instance(), &other));
}

}  // namespace
