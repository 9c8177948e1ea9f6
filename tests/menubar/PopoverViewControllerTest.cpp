// The popover's pages by state, its list with the empty view, remove by row, switches with their
// lights and the options menu with its highlight images.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "MenubarTestEnvironment.h"
#include "menubar/LockedApplicationRowView.h"
#include "menubar/NoPasswordViewController.h"
#include "menubar/PopoverOptionsMenu.h"
#include "menubar/PopoverViewController.h"
#include "menubar/RequestPasswordViewController.h"
#include "widgets/ImageButtonView.h"

namespace {

using menubar_test::MenubarTest;

class PopoverViewControllerTest : public MenubarTest {
  protected:
    // The popover's window: the controller as the only child of a top-level widget.
    void open() {
        if (!window) {
            window = std::make_unique<QWidget>();
            controller.setParent(window.get());
        }
        window->show();
    }
    void close() { window->hide(); }

    QWidget* mainPage() const { return controller.findChild<QWidget*>("mainPageView"); }
    LockedApplicationRowView* cell(int row) const {
        QListWidget* table = controller.applicationsTableViewOutlet;
        return qobject_cast<LockedApplicationRowView*>(table->itemWidget(table->item(row)));
    }
    static QString lightOf(QLabel* light) { return light->property("imageName").toString(); }

    // The window goes last: the controller leaves it before it deletes its children.
    std::unique_ptr<QWidget> window;
    PopoverViewController controller;
};

TEST_F(PopoverViewControllerTest, OpensOnTheRequestPageByDefault) {
    open();

    ASSERT_NE(controller.requestPasswordViewController, nullptr);
    EXPECT_TRUE(controller.requestPasswordViewController->isVisible());
    EXPECT_FALSE(mainPage()->isVisible());
    EXPECT_EQ(controller.noPasswordViewController, nullptr);
}

TEST_F(PopoverViewControllerTest, OpensOnTheNoPasswordPageWithoutPassword) {
    controller.state = PopoverViewState::noPassword;

    open();

    ASSERT_NE(controller.noPasswordViewController, nullptr);
    EXPECT_TRUE(controller.noPasswordViewController->isVisible());
    EXPECT_FALSE(mainPage()->isVisible());
}

TEST_F(PopoverViewControllerTest, OpensOnTheMainPageWhenRunning) {
    controller.state = PopoverViewState::requestPassword;
    open();
    close();
    controller.state = PopoverViewState::running;

    open();

    EXPECT_TRUE(mainPage()->isVisible());
    EXPECT_FALSE(controller.requestPasswordViewController->isVisible());
    EXPECT_EQ(controller.requestPasswordViewController->parentWidget(), nullptr);
}

TEST_F(PopoverViewControllerTest, ClosingForgetsThatThePasswordWasGiven) {
    controller.state = PopoverViewState::running;
    open();

    close();

    EXPECT_EQ(controller.state, PopoverViewState::requestPassword);
    open();
    EXPECT_TRUE(controller.requestPasswordViewController->isVisible());
    EXPECT_FALSE(mainPage()->isVisible());
}

TEST_F(PopoverViewControllerTest, CoverPagesAreReused) {
    open();
    auto* first = controller.requestPasswordViewController.get();
    controller.showMainPage();

    controller.showRequestPasswordPage();

    EXPECT_EQ(controller.requestPasswordViewController.get(), first);
}

TEST_F(PopoverViewControllerTest, EmptyListShowsTheEmptyViewAndNoRows) {
    controller.state = PopoverViewState::running;
    open();

    EXPECT_TRUE(controller.noItemViewOutlet->isVisible());
    EXPECT_EQ(controller.applicationsTableViewOutlet->count(), 0);
}

TEST_F(PopoverViewControllerTest, RefreshWithOneEntryHidesTheEmptyViewAndShowsARow) {
    controller.state = PopoverViewState::running;
    open();

    controller.refreshLockedApplicationsAndInterface(entities({"Editor"}));

    EXPECT_FALSE(controller.noItemViewOutlet->isVisible());
    ASSERT_EQ(controller.applicationsTableViewOutlet->count(), 1);
    ASSERT_NE(cell(0), nullptr);
    EXPECT_EQ(cell(0)->objectName(), QStringLiteral("MyCell"));
    EXPECT_EQ(cell(0)->name()->text(), QStringLiteral("Editor"));
}

TEST_F(PopoverViewControllerTest, RefreshKeepsThePageAndTheSwitches) {
    open();
    controller.activateApplicationCheckboxOutlet->setChecked(true);

    controller.refreshLockedApplicationsAndInterface(entities({"Editor"}));

    EXPECT_TRUE(controller.requestPasswordViewController->isVisible());
    EXPECT_TRUE(controller.activateApplicationCheckboxOutlet->isChecked());
}

TEST_F(PopoverViewControllerTest, RemoveButtonPassesThatRowsApplication) {
    controller.initiateData(true, false, entities({"Browser", "Editor", "Mail"}));
    controller.state = PopoverViewState::running;
    open();
    std::vector<QString> removed;
    controller.onRemoveApplicationRequest = [&](const ApplicationEntity& entity) {
        removed.push_back(entity.bundleIdentifier);
    };

    QTest::mousePress(cell(1)->removeButton(), Qt::LeftButton);

    ASSERT_EQ(removed.size(), 1u);
    EXPECT_EQ(removed[0], QStringLiteral("org.example.Editor"));
    EXPECT_EQ(controller.applicationsTableViewOutlet->count(), 3);
}

TEST_F(PopoverViewControllerTest, RemoveOfARowNoLongerInTheListDoesNothing) {
    controller.initiateData(true, false, entities({"Browser", "Editor"}));
    controller.state = PopoverViewState::running;
    open();
    int calls = 0;
    controller.onRemoveApplicationRequest = [&](const ApplicationEntity&) { ++calls; };
    // The old rows are deleted later, so the button of the dropped row can still be clicked.
    QPointer<QWidget> staleButton = cell(1)->removeButton();
    controller.refreshLockedApplicationsAndInterface(entities({"Browser"}));
    ASSERT_TRUE(staleButton);

    QTest::mousePress(staleButton, Qt::LeftButton);
    controller.removeApplicationClick(-1);

    EXPECT_EQ(calls, 0);
}

TEST_F(PopoverViewControllerTest, RemoveWhoseAnswerRefreshesTheListAtOnceIsSafe) {
    controller.initiateData(true, false, entities({"Browser", "Editor"}));
    controller.state = PopoverViewState::running;
    open();
    controller.onRemoveApplicationRequest = [&](const ApplicationEntity&) {
        controller.refreshLockedApplicationsAndInterface(entities({"Browser"}));
    };

    QTest::mousePress(cell(1)->removeButton(), Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    EXPECT_EQ(controller.applicationsTableViewOutlet->count(), 1);
}

TEST_F(PopoverViewControllerTest, SwitchesAndLightsComeFromTheDataAtLoad) {
    controller.initiateData(true, false, {});

    open();

    EXPECT_TRUE(controller.activateApplicationCheckboxOutlet->isChecked());
    EXPECT_EQ(lightOf(controller.activateApplicationLightOutlet), "NSStatusAvailable");
    EXPECT_FALSE(controller.startAtLoginCheckboxOutlet->isChecked());
    EXPECT_EQ(lightOf(controller.startAtLoginLightOutlet), "NSStatusPartiallyAvailable");
}

TEST_F(PopoverViewControllerTest, SwitchesAreSetOnlyWhenTheViewLoads) {
    controller.initiateData(false, false, {});
    open();

    controller.initiateData(true, true, {});
    close();
    open();

    EXPECT_FALSE(controller.activateApplicationCheckboxOutlet->isChecked());
    EXPECT_FALSE(controller.startAtLoginCheckboxOutlet->isChecked());
}

TEST_F(PopoverViewControllerTest, ProtectionSwitchOffShowsYellowAndReportsFalse) {
    controller.initiateData(true, false, {});
    controller.state = PopoverViewState::running;
    open();
    std::vector<bool> reported;
    controller.onIsActiveConfigurationChanged = [&](bool on) { reported.push_back(on); };

    controller.activateApplicationCheckboxOutlet->click();

    EXPECT_EQ(reported, std::vector<bool>{false});
    EXPECT_EQ(lightOf(controller.activateApplicationLightOutlet), "NSStatusPartiallyAvailable");

    controller.activateApplicationCheckboxOutlet->click();

    EXPECT_EQ(reported, (std::vector<bool>{false, true}));
    EXPECT_EQ(lightOf(controller.activateApplicationLightOutlet), "NSStatusAvailable");
}

TEST_F(PopoverViewControllerTest, StartAtLoginSwitchReportsItsNewValue) {
    controller.state = PopoverViewState::running;
    open();
    std::vector<bool> reported;
    controller.onStartAtLoginConfigurationChanged = [&](bool on) { reported.push_back(on); };

    controller.startAtLoginCheckboxOutlet->click();

    EXPECT_EQ(reported, std::vector<bool>{true});
    EXPECT_EQ(lightOf(controller.startAtLoginLightOutlet), "NSStatusAvailable");
    EXPECT_TRUE(controller.startAtLoginCheckboxOutlet->isChecked());
}

TEST_F(PopoverViewControllerTest, AddButtonRequestsApplications) {
    controller.state = PopoverViewState::running;
    open();
    int requests = 0;
    controller.onAddApplicationsRequest = [&] { ++requests; };

    QTest::mousePress(controller.addApplicationButtonOutlet, Qt::LeftButton);

    EXPECT_EQ(requests, 1);
}

TEST_F(PopoverViewControllerTest, CoverPageButtonsCallTheCallbacksHeldAtClickTime) {
    controller.state = PopoverViewState::noPassword;
    open();
    int help = 0;
    int setup = 0;
    controller.onHelpRequest = [&] { ++help; };
    controller.onChangePreferencesRequest = [&] { ++setup; };

    controller.noPasswordViewController->helpButton()->click();
    controller.noPasswordViewController->setupPasswordButton()->click();

    EXPECT_EQ(help, 1);
    EXPECT_EQ(setup, 1);
}

TEST_F(PopoverViewControllerTest, RequestPageHandsTheTypedTextOn) {
    open();
    QString entered;
    controller.onPasswordEntered = [&](const QString& text) { entered = text; };
    auto* page = controller.requestPasswordViewController.get();

    page->passwordTextFieldOutlet->setText(QStringLiteral("s3cret"));
    QTest::keyClick(page->passwordTextFieldOutlet, Qt::Key_Return);

    EXPECT_EQ(entered, QStringLiteral("s3cret"));
}

class PopoverOptionsMenuTest : public PopoverViewControllerTest {
  protected:
    PopoverOptionsMenu* openMenu() {
        controller.state = PopoverViewState::running;
        open();
        QTest::mousePress(controller.menuButtonOutlet, Qt::LeftButton);
        return controller.optionsMenu();
    }
    static QString imageOf(QAction* item) { return item->property("imageName").toString(); }
};

TEST_F(PopoverOptionsMenuTest, HasTheFiveItemsInOrderThenWhichProtectionIsInForce) {
    QMenu* menu = openMenu();
    ASSERT_NE(menu, nullptr);
    const QList<QAction*> items = menu->actions();

    ASSERT_EQ(items.size(), 8);
    EXPECT_TRUE(items[6]->isSeparator());
    EXPECT_TRUE(items[7]->text().startsWith(QStringLiteral("Standard protection")));
    EXPECT_FALSE(items[7]->isEnabled());
    EXPECT_EQ(items[0]->text(), QStringLiteral("Password Preferences"));
    EXPECT_EQ(items[1]->text(), QStringLiteral("Lock Other Applications"));
    EXPECT_TRUE(items[2]->isSeparator());
    // A doubled ampersand is how a menu title shows one ampersand instead of a mnemonic.
    EXPECT_EQ(items[3]->text(), QStringLiteral("Help && Support"));
    EXPECT_TRUE(items[4]->isSeparator());
    EXPECT_EQ(items[5]->text(), QStringLiteral("Quit"));
    for (int index : {0, 1, 3, 5}) {
        EXPECT_FALSE(items[index]->isCheckable());
        EXPECT_FALSE(items[index]->icon().isNull());
        EXPECT_EQ(items[index]->icon().actualSize(QSize(16, 16)), QSize(12, 12));
    }
}

TEST_F(PopoverOptionsMenuTest, ItemsCarryTheirImagesAndKeyEquivalents) {
    const QList<QAction*> items = openMenu()->actions();

    EXPECT_EQ(imageOf(items[0]), QStringLiteral("PasswordMenuOption"));
    EXPECT_EQ(imageOf(items[1]), QStringLiteral("LockAnotherAppMenuOption"));
    EXPECT_EQ(imageOf(items[3]), QStringLiteral("HelpMenuOption"));
    EXPECT_EQ(imageOf(items[5]), QStringLiteral("QuitApplicationMenuOption"));
    EXPECT_EQ(items[0]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
    EXPECT_EQ(items[1]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Plus));
    EXPECT_EQ(items[3]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_H));
    EXPECT_TRUE(items[5]->shortcut().isEmpty());
}

TEST_F(PopoverOptionsMenuTest, EachItemCallsItsCallback) {
    std::vector<QString> calls;
    controller.onChangePreferencesRequest = [&] { calls.push_back("preferences"); };
    controller.onAddApplicationsRequest = [&] { calls.push_back("add"); };
    controller.onHelpRequest = [&] { calls.push_back("help"); };
    controller.onQuitRequest = [&] { calls.push_back("quit"); };
    const QList<QAction*> items = openMenu()->actions();

    for (int index : {0, 1, 3, 5})
        items[index]->trigger();

    EXPECT_EQ(calls, (std::vector<QString>{"preferences", "add", "help", "quit"}));
}

TEST_F(PopoverOptionsMenuTest, IsBuiltAnewAtEveryClick) {
    QMenu* first = openMenu();
    first->hide();

    QTest::mousePress(controller.menuButtonOutlet, Qt::LeftButton);

    EXPECT_NE(controller.optionsMenu(), nullptr);
    EXPECT_EQ(controller.optionsMenu()->actions().size(), 8);
}

TEST_F(PopoverOptionsMenuTest, HighlightingShowsTheWhiteImageAndRestoresTheOthers) {
    PopoverOptionsMenu* menu = openMenu();
    const QList<QAction*> items = menu->actions();

    menu->highlightItem(items[5]);
    EXPECT_EQ(imageOf(items[5]), QStringLiteral("QuitApplicationMenuOption_White"));

    menu->highlightItem(items[3]);
    EXPECT_EQ(imageOf(items[5]), QStringLiteral("QuitApplicationMenuOption"));
    EXPECT_EQ(imageOf(items[3]), QStringLiteral("HelpMenuOption_White"));

    menu->highlightItem(nullptr);
    EXPECT_EQ(imageOf(items[3]), QStringLiteral("HelpMenuOption"));
}

TEST_F(PopoverOptionsMenuTest, LeavingTheMenuRestoresTheImages) {
    PopoverOptionsMenu* menu = openMenu();
    QAction* quit = menu->actions()[5];
    menu->highlightItem(quit);

    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(menu, &leave);
    QCoreApplication::processEvents();

    EXPECT_EQ(imageOf(quit), QStringLiteral("QuitApplicationMenuOption"));
}

TEST_F(PopoverOptionsMenuTest, HoverSignalDrivesTheHighlight) {
    QMenu* menu = openMenu();
    QAction* preferences = menu->actions()[0];

    Q_EMIT menu->hovered(preferences);

    EXPECT_EQ(imageOf(preferences), QStringLiteral("PasswordMenuOption_White"));
}

}  // namespace
