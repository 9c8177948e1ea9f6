// The popover presenter: page state before opening, the password check, removal, the two
// switches with the login-item alert, the copied callbacks and quitting.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QListWidget>

#include "MenubarTestEnvironment.h"
#include "menubar/NoPasswordViewController.h"
#include "menubar/PopoverInterfacePresenter.h"
#include "menubar/PopoverViewController.h"
#include "menubar/PopupSystem.h"
#include "menubar/RequestPasswordViewController.h"

namespace {

using menubar_test::MenubarTest;

struct Alert {
    QString title;
    QString message;
    int type;
};

class PopoverInterfacePresenterTest : public MenubarTest {
  protected:
    void SetUp() override {
        MenubarTest::SetUp();
        installApplication(QStringLiteral("org.example.Editor"), QStringLiteral("Editor"));
        installApplication(QStringLiteral("org.example.Mail"), QStringLiteral("Mail"));
        presenter = std::make_unique<PopoverInterfacePresenter>(*configuration);
        presenter->registerLoginItem = [this](bool on) {
            loginRequests.push_back(on);
            if (loginSucceeds)
                registered = on;
            return loginSucceeds;
        };
        presenter->loginItemRegistered = [this] { return registered; };
        presenter->observeLoginItem = [this](std::function<void()> handler) {
            loginItemChanged = std::move(handler);
        };
        presenter->showAlert = [this](const QString& title, const QString& message, int type) {
            alerts.push_back({title, message, type});
        };
    }
    void TearDown() override {
        presenter.reset();
        MenubarTest::TearDown();
    }
    void start() {
        presenter->startService();
        presenter->popup()->darkModeOn = [] { return false; };
        presenter->popup()->focusOnApplication = [](const QString&) {};
    }
    void open() {
        presenter->showService();
        mainQueue->runAll();
    }
    PopoverViewController& popover() { return *presenter->popover(); }
    RequestPasswordViewController& requestPage() {
        return *popover().requestPasswordViewController;
    }

    std::unique_ptr<PopoverInterfacePresenter> presenter;
    std::vector<bool> loginRequests;
    bool loginSucceeds = true;
    bool registered = false;  // what is on disk
    std::function<void()> loginItemChanged;
    std::vector<Alert> alerts;
};

TEST_F(PopoverInterfacePresenterTest, WithoutPasswordThePopoverOpensOnTheNoPasswordPage) {
    start();

    open();

    EXPECT_EQ(popover().state, PopoverViewState::noPassword);
    ASSERT_NE(popover().noPasswordViewController, nullptr);
    EXPECT_TRUE(popover().noPasswordViewController->isVisible());
}

TEST_F(PopoverInterfacePresenterTest, NoPasswordSetUpButtonRequestsThePasswordPreferences) {
    int requests = 0;
    presenter->onChangePreferencesRequest = [&] { ++requests; };
    start();
    open();

    popover().noPasswordViewController->setupPasswordButtonClick();

    EXPECT_EQ(requests, 1);
}

TEST_F(PopoverInterfacePresenterTest, RightPasswordShowsTheMainPageInTheOpenPopover) {
    configuration->setApplicationPassword(QStringLiteral("Correct horse"));
    start();
    open();
    EXPECT_EQ(popover().state, PopoverViewState::requestPassword);

    requestPage().onPasswordEntered(QStringLiteral("Correct horse"));

    EXPECT_EQ(popover().state, PopoverViewState::running);
    EXPECT_TRUE(popover().findChild<QWidget*>("mainPageView")->isVisible());
    EXPECT_TRUE(presenter->popup()->isActive());
}

TEST_F(PopoverInterfacePresenterTest, CanonicallyEqualPasswordIsRight) {
    configuration->setApplicationPassword(QStringLiteral("caf\u00e9"));
    start();
    open();

    requestPage().onPasswordEntered(QStringLiteral("cafe\u0301"));

    EXPECT_EQ(popover().state, PopoverViewState::running);
}

TEST_F(PopoverInterfacePresenterTest, WrongPasswordShakesAndKeepsTheRequestPage) {
    configuration->setApplicationPassword(QStringLiteral("Correct horse"));
    start();
    open();

    requestPage().onPasswordEntered(QStringLiteral("correct horse"));

    EXPECT_EQ(popover().state, PopoverViewState::requestPassword);
    ASSERT_NE(requestPage().shakeAnimation(), nullptr);
    EXPECT_TRUE(requestPage().isVisible());
}

TEST_F(PopoverInterfacePresenterTest, EmptyTextNeverOpensThePageWithoutAStoredPassword) {
    start();
    open();
    popover().showRequestPasswordPage();

    requestPage().onPasswordEntered(QString());

    EXPECT_NE(popover().state, PopoverViewState::running);
}

TEST_F(PopoverInterfacePresenterTest, ClosingAndReopeningAsksAgain) {
    configuration->setApplicationPassword(QStringLiteral("pw"));
    start();
    open();
    requestPage().onPasswordEntered(QStringLiteral("pw"));

    presenter->hideService();
    open();

    EXPECT_EQ(popover().state, PopoverViewState::requestPassword);
    EXPECT_TRUE(requestPage().isVisible());
}

TEST_F(PopoverInterfacePresenterTest, RemovalPrintsTheNameAndTheRowGoesAfterTheChange) {
    configuration->addLockedApplicationBundleId(QStringLiteral("org.example.Editor"));
    configuration->addLockedApplicationBundleId(QStringLiteral("org.example.Mail"));
    start();
    open();
    popover().showMainPage();
    ASSERT_EQ(popover().applicationsTableViewOutlet->count(), 2);

    testing::internal::CaptureStdout();
    popover().removeApplicationClick(0);
    const std::string output = testing::internal::GetCapturedStdout();

    EXPECT_EQ(output, "removeApplicationRequest: Editor\n");
    EXPECT_EQ(configuration->getLockedApplicationsBundleIds(),
              QStringList{QStringLiteral("org.example.Mail")});
    EXPECT_EQ(popover().applicationsTableViewOutlet->count(), 1);
}

TEST_F(PopoverInterfacePresenterTest, ProtectionSwitchPrintsAndStoresTheFlag) {
    configuration->setApplicationIsActive(true);
    start();

    testing::internal::CaptureStdout();
    popover().onIsActiveConfigurationChanged(false);
    const std::string output = testing::internal::GetCapturedStdout();

    EXPECT_EQ(output, "isActiveConfigurationChanged\n");
    EXPECT_FALSE(configuration->getApplicationIsActive());
}

TEST_F(PopoverInterfacePresenterTest, StartAtLoginStoresTheFlagWhenTheLoginItemChanged) {
    start();

    testing::internal::CaptureStdout();
    popover().onStartAtLoginConfigurationChanged(true);
    const std::string output = testing::internal::GetCapturedStdout();

    EXPECT_EQ(output, "startAtLoginConfigurationChanged\n");
    EXPECT_EQ(loginRequests, std::vector<bool>{true});
    EXPECT_TRUE(configuration->getStartAtLogin());
    EXPECT_TRUE(alerts.empty());
}

TEST_F(PopoverInterfacePresenterTest, RefusedLoginItemShowsTheAlertAndKeepsTheFlag) {
    loginSucceeds = false;
    start();
    open();
    popover().showMainPage();

    popover().startAtLoginCheckboxOutlet->click();

    EXPECT_FALSE(configuration->getStartAtLogin());
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, QStringLiteral("There was an error"));
    EXPECT_EQ(alerts[0].message,
              QStringLiteral("Vaultine could not be added to the login items. You can check your "
                             "system's security settings or you can restart your computer and "
                             "retry"));
    EXPECT_EQ(alerts[0].type, 2);
    EXPECT_TRUE(popover().startAtLoginCheckboxOutlet->isChecked());
}

TEST_F(PopoverInterfacePresenterTest, WhileStartAtLoginIsOnALostLoginItemIsRegisteredAgain) {
    configuration->setStartAtLogin(true);
    start();  // missing at start: written again
    EXPECT_EQ(loginRequests, std::vector<bool>{true});
    EXPECT_TRUE(popover().startAtLogin());

    registered = false;  // deleted, hidden or pointed elsewhere
    ASSERT_TRUE(loginItemChanged);
    loginItemChanged();
    EXPECT_EQ(loginRequests, (std::vector<bool>{true, true}));
    EXPECT_TRUE(popover().startAtLogin());

    loginItemChanged();  // our own write changes the folder too: nothing more to do
    EXPECT_EQ(loginRequests.size(), 2u);

    registered = false;
    loginSucceeds = false;
    loginItemChanged();
    EXPECT_FALSE(popover().startAtLogin());  // the switch shows what is on disk
}

TEST_F(PopoverInterfacePresenterTest, WithStartAtLoginOffNoLoginItemIsWritten) {
    start();
    registered = true;  // somebody else registered it
    loginItemChanged();
    EXPECT_TRUE(loginRequests.empty());
    EXPECT_TRUE(popover().startAtLogin());
}

TEST_F(PopoverInterfacePresenterTest, InitialDataComesFromTheConfiguration) {
    configuration->setApplicationIsActive(true);
    configuration->addLockedApplicationBundleId(QStringLiteral("org.example.Mail"));
    start();

    EXPECT_TRUE(popover().applicationIsActive());
    EXPECT_FALSE(popover().startAtLogin());
    ASSERT_EQ(popover().lockedApplications().size(), 1u);
    EXPECT_EQ(popover().lockedApplications()[0].name, QStringLiteral("Mail"));
}

TEST_F(PopoverInterfacePresenterTest, CallbacksAreCopiedAtStart) {
    int early = 0;
    int late = 0;
    presenter->onHelpRequest = [&] { ++early; };
    start();
    presenter->onHelpRequest = [&] { ++late; };

    popover().onHelpRequest();

    EXPECT_EQ(early, 1);
    EXPECT_EQ(late, 0);
}

TEST_F(PopoverInterfacePresenterTest, QuitGoesToTheQuitCallbackWithoutAQuestion) {
    int quits = 0;
    presenter->onQuitRequest = [&] { ++quits; };
    start();

    popover().onQuitRequest();

    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(alerts.empty());
}

TEST_F(PopoverInterfacePresenterTest, ChangesAfterThePresenterWentAreIgnored) {
    start();
    presenter.reset();

    configuration->addLockedApplicationBundleId(QStringLiteral("org.example.Mail"));

    SUCCEED();
}

}  // namespace
