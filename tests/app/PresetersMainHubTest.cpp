// The presenters hub: the greeting on a first launch, the "-psn_" launch-argument test, one window
// per kind reused on later requests, and the path from the greeting to the popover.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app/PresetersMainHub.h"
#include "menubar/PopoverViewController.h"
#include "menubar/PopupSystem.h"
#include "platform/testing/Doubles.h"
#include "platform/testing/FakeWorkspace.h"

using namespace platform::testing;

namespace {

class Hub : public ::testing::Test {
  protected:
    void SetUp() override {
        installMainBundle(QStringLiteral("org.vaultine.Vaultine"),
                          QStringLiteral(VAULTINE_BUNDLE_PATH));
        auto secretStore = std::make_unique<FakeSecretStore>();
        secrets = secretStore.get();
        platform::SecretStore::install(std::move(secretStore));
        platform::UserDefaults::install(std::make_unique<InMemoryUserDefaults>());
        platform::Workspace::install(std::make_unique<FakeWorkspace>());
        auto queue = std::make_unique<ManualMainQueue>();
        mainQueue = queue.get();
        platform::MainQueue::install(std::move(queue));
        platform::GlobalQueue::install(std::make_unique<ImmediateGlobalQueue>());
        configuration = std::make_unique<ConfigurationAndPreferencesService>();
    }
    void TearDown() override {
        hub.reset();
        mainQueue->runAll();
        configuration.reset();
    }

    // The opening steps as start-up runs them.
    PresetersMainHub& presentedHub() {
        hub = std::make_unique<PresetersMainHub>(*configuration);
        hub->quitApplication = [this] { ++quitRequests; };
        hub->present();
        hub->popoverInterfacePresenter().popup()->darkModeOn = [] { return false; };
        hub->popoverInterfacePresenter().popup()->focusOnApplication = [](const QString&) {};
        return *hub;
    }
    PopoverViewController& popover() { return *hub->popoverInterfacePresenter().popover(); }
    bool popoverIsOpen() { return hub->popoverInterfacePresenter().popup()->isActive(); }
    static int visibleWindowsTitled(const QString& title) {
        int count = 0;
        for (QWidget* widget : QApplication::topLevelWidgets())
            count += widget->isVisible() && widget->windowTitle() == title ? 1 : 0;
        return count;
    }

    ManualMainQueue* mainQueue = nullptr;
    FakeSecretStore* secrets = nullptr;
    std::unique_ptr<ConfigurationAndPreferencesService> configuration;
    std::unique_ptr<PresetersMainHub> hub;
    int quitRequests = 0;
};

using HubStartUp = Hub;

TEST_F(HubStartUp, AFirstLaunchShowsTheStatusItemAndTheGreeting) {
    PresetersMainHub& presented = presentedHub();
    EXPECT_NE(presented.popoverInterfacePresenter().popup(), nullptr);
    ASSERT_NE(presented.greetingsWindowPresenter(), nullptr);
    EXPECT_TRUE(
        presented.greetingsWindowPresenter()->greetingsWindowController().window()->isVisible());
}

TEST_F(HubStartUp, ALaunchWithAStoredPasswordShowsNoGreeting) {
    configuration->setApplicationPassword("secret");
    EXPECT_EQ(presentedHub().greetingsWindowPresenter(), nullptr);
}

TEST_F(HubStartUp, AnArgumentBeginningWithPsnMarksALaunchBySystem) {
    EXPECT_TRUE(PresetersMainHub::hasProcessSerialNumberArgument(
        {"/opt/vaultine/Vaultine.app/Contents/bin/Vaultine", "-psn_0_4242"}));
    EXPECT_TRUE(PresetersMainHub::hasProcessSerialNumberArgument({"-psn_"}));
    EXPECT_FALSE(PresetersMainHub::hasProcessSerialNumberArgument(
        {"/opt/vaultine/Vaultine.app/Contents/bin/Vaultine"}));
    EXPECT_FALSE(PresetersMainHub::hasProcessSerialNumberArgument({"x-psn_0_1", "-PSN_0_1"}));
    EXPECT_FALSE(PresetersMainHub::hasProcessSerialNumberArgument({}));
}

TEST_F(HubStartUp, ALaunchBySystemLeavesThePopoverClosed) {
    configuration->setApplicationPassword("secret");
    presentedHub().finishLaunching({"Vaultine", "-psn_0_7"});
    mainQueue->runAll();
    EXPECT_FALSE(popoverIsOpen());
}

TEST_F(HubStartUp, AnyOtherLaunchOpensThePopoverAtTheEnd) {
    configuration->setApplicationPassword("secret");
    presentedHub().finishLaunching({"Vaultine"});
    mainQueue->runAll();
    EXPECT_TRUE(popoverIsOpen());
}

using HubReuse = Hub;

TEST_F(HubReuse, HelpAskedTwiceShowsOneWindowAndReusesItsPresenter) {
    configuration->setApplicationPassword("secret");
    presentedHub();
    popover().onHelpRequest();
    HelpWindowPresenter* first = hub->helpWindowPresenter();
    ASSERT_NE(first, nullptr);
    first->helpWindowController().window()->close();
    popover().onHelpRequest();
    EXPECT_EQ(hub->helpWindowPresenter(), first);
    EXPECT_TRUE(first->helpWindowController().window()->isVisible());
    EXPECT_EQ(visibleWindowsTitled("Vaultine Help"), 1);
}

TEST_F(HubReuse, PreferencesAskedTwiceReuseTheWindowWithEmptyFields) {
    configuration->setApplicationPassword("secret");
    presentedHub();
    popover().onChangePreferencesRequest();
    PreferencesWindowPresenter* first = hub->preferencesWindowPresenter();
    ASSERT_NE(first, nullptr);
    first->preferencesWindowController().passwordTextFieldOutlet->setText("half typed");
    popover().onChangePreferencesRequest();
    EXPECT_EQ(hub->preferencesWindowPresenter(), first);
    EXPECT_TRUE(first->preferencesWindowController().passwordTextFieldOutlet->text().isEmpty());
    EXPECT_EQ(visibleWindowsTitled("Vaultine Password"), 1);
}

TEST_F(HubReuse, SelectionAskedTwiceReusesTheWindow) {
    configuration->setApplicationPassword("secret");
    presentedHub();
    popover().onAddApplicationsRequest();
    SelectApplicationsWindowPresenter* first = hub->selectApplicationsWindowPresenter();
    ASSERT_NE(first, nullptr);
    popover().onAddApplicationsRequest();
    EXPECT_EQ(hub->selectApplicationsWindowPresenter(), first);
    EXPECT_EQ(visibleWindowsTitled("Lock Applications"), 1);
}

TEST_F(HubReuse, AWindowRequestClosesAnOpenPopover) {
    configuration->setApplicationPassword("secret");
    presentedHub().showPopover();
    mainQueue->runAll();
    ASSERT_TRUE(popoverIsOpen());
    popover().onHelpRequest();
    EXPECT_FALSE(popoverIsOpen());
}

TEST_F(HubReuse, QuitFromThePopoverEndsVaultineThroughTheQuitPath) {
    configuration->setApplicationPassword("secret");
    presentedHub();
    popover().onQuitRequest();
    EXPECT_EQ(quitRequests, 1);
}

using HubGreeting = Hub;

TEST_F(HubGreeting, SettingUpAPasswordClosesTheGreetingAndOpensThePreferences) {
    presentedHub();
    QWidget* greeting = hub->greetingsWindowPresenter()->greetingsWindowController().window();
    QTest::mouseClick(greeting->findChild<QPushButton*>("setupPasswordButton"), Qt::LeftButton);
    EXPECT_FALSE(greeting->isVisible());
    EXPECT_NE(hub->greetingsWindowPresenter(), nullptr);
    ASSERT_NE(hub->preferencesWindowPresenter(), nullptr);
    EXPECT_TRUE(
        hub->preferencesWindowPresenter()->preferencesWindowController().window()->isVisible());
}

TEST_F(HubGreeting, AConfirmedPasswordOpensThePopover) {
    presentedHub();
    QWidget* greeting = hub->greetingsWindowPresenter()->greetingsWindowController().window();
    QTest::mouseClick(greeting->findChild<QPushButton*>("setupPasswordButton"), Qt::LeftButton);
    PreferencesWindowController& preferences =
        hub->preferencesWindowPresenter()->preferencesWindowController();
    preferences.passwordTextFieldOutlet->setText("secret");
    preferences.confirmPasswordTextFieldOutlet->setText("secret");
    QTest::keyClick(preferences.confirmPasswordTextFieldOutlet, Qt::Key_Return);
    mainQueue->runAll();
    EXPECT_EQ(configuration->getApplicationPassword(), "secret");
    EXPECT_FALSE(preferences.window()->isVisible());
    EXPECT_TRUE(popoverIsOpen());
}

TEST_F(HubGreeting, ALockedKeyringIsNotTakenForAFirstLaunch) {
    secrets->unreachable = true;
    presentedHub();
    EXPECT_EQ(hub->greetingsWindowPresenter(), nullptr);
    hub->showPopover();
    mainQueue->runAll();
    // The page asks for the password, which cannot open it yet, and says why.
    EXPECT_EQ(popover().state, PopoverViewState::requestPassword);
    EXPECT_EQ(popover().requestPageNotice, PopoverInterfacePresenter::KEYRING_UNAVAILABLE_NOTICE);

    secrets->unreachable = false;
    secrets->announceAvailability();  // it answers that no password is stored: now greet
    ASSERT_NE(hub->greetingsWindowPresenter(), nullptr);
    secrets->announceAvailability();
    EXPECT_EQ(
        visibleWindowsTitled(
            hub->greetingsWindowPresenter()->greetingsWindowController().window()->windowTitle()),
        1);
}

TEST_F(HubGreeting, HelpFromTheGreetingLeavesTheGreetingOpen) {
    presentedHub();
    QWidget* greeting = hub->greetingsWindowPresenter()->greetingsWindowController().window();
    QTest::mouseClick(greeting->findChild<QPushButton*>("helpButton"), Qt::LeftButton);
    QTest::mouseClick(greeting->findChild<QPushButton*>("helpButton"), Qt::LeftButton);
    EXPECT_TRUE(greeting->isVisible());
    ASSERT_NE(hub->helpWindowPresenter(), nullptr);
    EXPECT_EQ(visibleWindowsTitled("Vaultine Help"), 1);
}

}  // namespace
