// The selection window and its presenter: the filter, picks by row, pick button and keyboard, the
// clear button, the two options, the help alerts, and loads that finish out of order.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QTest>
#include <QToolButton>

#include "WindowsTestEnvironment.h"
#include "storage/ConfigurationConstants.h"
#include "widgets/ImageButtonView.h"
#include "windows/ApplicationsSelectWindowController.h"
#include "windows/SelectApplicationsWindowPresenter.h"

namespace {

QStringList namesOf(const std::vector<ApplicationEntity>& applications) {
    QStringList names;
    for (const ApplicationEntity& application : applications)
        names.append(application.name);
    return names;
}

std::vector<ApplicationEntity> entities(const QStringList& names) {
    std::vector<ApplicationEntity> result;
    for (const QString& name : names)
        result.emplace_back(name, QStringLiteral("org.example.") + name.simplified().remove(' '));
    return result;
}

class SelectionWindow : public windows_test::WindowsTest {
  protected:
    void show(const QStringList& names) {
        controller.showServiceWindow({}, false, false);
        controller.displayApplicationsList(entities(names));
    }
    void typeFilter(const QString& text) {
        controller.filterTextfieldOutlet->clear();
        QTest::keyClicks(controller.filterTextfieldOutlet, text);
    }
    QStringList shownNames() {
        QStringList names;
        QListWidget* table = controller.applicationsTableViewOutlet;
        for (int row = 0; row < table->count(); ++row) {
            QWidget* cell = table->itemWidget(table->item(row));
            for (QLabel* label : cell->findChildren<QLabel*>()) {
                if (label->property("tag").toInt() == ApplicationsSelectWindowController::NAME_TAG)
                    names.append(label->text());
            }
        }
        return names;
    }
    ImageButtonView* pickButtonOfRow(int row) {
        QListWidget* table = controller.applicationsTableViewOutlet;
        for (auto* button : table->itemWidget(table->item(row))->findChildren<ImageButtonView*>()) {
            if (button->property("tag").toInt() ==
                ApplicationsSelectWindowController::PICK_BUTTON_TAG)
                return button;
        }
        return nullptr;
    }

    ApplicationsSelectWindowController controller;
    std::vector<QString> picked;
};

using SelectionFilter = SelectionWindow;

TEST_F(SelectionFilter, AnEmptyFilterShowsTheWholeListInOrder) {
    show({"Firefox", "Files", "GIMP"});
    EXPECT_EQ(shownNames(), (QStringList{"Firefox", "Files", "GIMP"}));
}

TEST_F(SelectionFilter, MatchesRegardlessOfCase) {
    show({"Firefox", "Files", "GIMP", "Safari"});
    typeFilter("SAF");
    EXPECT_EQ(shownNames(), QStringList{"Safari"});
    typeFilter("fI");
    EXPECT_EQ(shownNames(), (QStringList{"Firefox", "Files"}));
}

TEST_F(SelectionFilter, OneSpaceKeepsOnlyNamesWithASpace) {
    show({"Text Editor", "Files", "Disk Usage Analyzer"});
    typeFilter(" ");
    EXPECT_EQ(shownNames(), (QStringList{"Text Editor", "Disk Usage Analyzer"}));
}

TEST_F(SelectionFilter, LowerCasesBeyondAsciiButFoldsNoDiacritics) {
    show({"Éditeur", "Editor"});
    typeFilter("ÉDI");
    EXPECT_EQ(shownNames(), QStringList{"Éditeur"});
    typeFilter("edi");
    EXPECT_EQ(shownNames(), QStringList{"Editor"});
}

TEST_F(SelectionFilter, ANewListKeepsTheTypedFilter) {
    show({"Firefox", "Files"});
    typeFilter("fire");
    controller.displayApplicationsList(entities({"Files", "Firefox", "Fire Drill"}));
    EXPECT_EQ(controller.filterTextfieldOutlet->text(), "fire");
    EXPECT_EQ(shownNames(), (QStringList{"Firefox", "Fire Drill"}));
}

TEST_F(SelectionFilter, NoMatchSaysSo) {
    show({"Firefox"});
    typeFilter("zzz");
    EXPECT_TRUE(controller.emptyListLabel->isVisibleTo(controller.window()));
    EXPECT_TRUE(controller.emptyListLabel->text().contains("zzz"));
}

TEST_F(SelectionFilter, ClearButtonEmptiesTheFieldShowsAllAndFocusesTheTable) {
    show({"Firefox", "Files", "GIMP"});
    typeFilter("gim");
    ASSERT_TRUE(controller.blurSearchTextfieldButtonOutlet->isVisible());
    QTest::mouseClick(controller.blurSearchTextfieldButtonOutlet, Qt::LeftButton);
    EXPECT_TRUE(controller.filterTextfieldOutlet->text().isEmpty());
    EXPECT_EQ(shownNames(), (QStringList{"Firefox", "Files", "GIMP"}));
    EXPECT_EQ(controller.window()->focusWidget(), controller.applicationsTableViewOutlet);
}

using SelectionPicks = SelectionWindow;

TEST_F(SelectionPicks, AClickOnARowPicksItsApplication) {
    show({"Firefox", "Files", "GIMP"});
    controller.onApplicationSelected = [this](const ApplicationEntity& e) {
        picked.push_back(e.bundleIdentifier);
    };
    QListWidget* table = controller.applicationsTableViewOutlet;
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                      table->visualItemRect(table->item(1)).center());
    EXPECT_EQ(picked, std::vector<QString>{"org.example.Files"});
}

TEST_F(SelectionPicks, ThePickButtonPicksItsRowOnce) {
    show({"Firefox", "Files", "GIMP"});
    controller.onApplicationSelected = [this](const ApplicationEntity& e) {
        picked.push_back(e.bundleIdentifier);
    };
    ImageButtonView* button = pickButtonOfRow(2);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->id, 2);
    EXPECT_FALSE(button->animated);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(picked, std::vector<QString>{"org.example.GIMP"});
}

TEST_F(SelectionPicks, PicksReferToTheFilteredRows) {
    show({"Firefox", "Files", "GIMP"});
    typeFilter("gimp");
    controller.onApplicationSelected = [this](const ApplicationEntity& e) {
        picked.push_back(e.bundleIdentifier);
    };
    QTest::mouseClick(pickButtonOfRow(0), Qt::LeftButton);
    EXPECT_EQ(picked, std::vector<QString>{"org.example.GIMP"});
}

TEST_F(SelectionPicks, ReturnPicksTheCurrentRow) {
    show({"Firefox", "Files"});
    controller.onApplicationSelected = [this](const ApplicationEntity& e) {
        picked.push_back(e.bundleIdentifier);
    };
    controller.applicationsTableViewOutlet->setCurrentRow(1);
    QTest::keyClick(controller.applicationsTableViewOutlet, Qt::Key_Return);
    EXPECT_EQ(picked, std::vector<QString>{"org.example.Files"});
}

TEST_F(SelectionPicks, ARowThatNoLongerExistsPicksNothing) {
    show({"Firefox"});
    controller.onApplicationSelected = [this](const ApplicationEntity& e) {
        picked.push_back(e.bundleIdentifier);
    };
    controller.selectRow(5);
    controller.selectRow(-1);
    EXPECT_TRUE(picked.empty());
}

using SelectionOptions = SelectionWindow;

TEST_F(SelectionOptions, CheckBoxesStartFromTheStatesOfTheFirstShow) {
    controller.showServiceWindow({}, true, false);
    EXPECT_TRUE(controller.lockAdministrativeApplicationsCheckboxOutlet->isChecked());
    EXPECT_FALSE(controller.showRunningApplicationsOnlyCheckboxOutlet->isChecked());
    controller.showServiceWindow({}, false, true);
    EXPECT_TRUE(controller.lockAdministrativeApplicationsCheckboxOutlet->isChecked());
    EXPECT_FALSE(controller.showRunningApplicationsOnlyCheckboxOutlet->isChecked());
}

TEST_F(SelectionOptions, ClickingACheckBoxReportsItsNewState) {
    controller.showServiceWindow({}, true, false);
    std::vector<bool> administrative, running;
    controller.onLockAdministrativeApplicationsOptionChanged = [&](bool on) {
        administrative.push_back(on);
    };
    controller.onShowRunningApplicationsOptionChanged = [&](bool on) { running.push_back(on); };
    QTest::mouseClick(controller.lockAdministrativeApplicationsCheckboxOutlet, Qt::LeftButton);
    QTest::mouseClick(controller.showRunningApplicationsOnlyCheckboxOutlet, Qt::LeftButton);
    QTest::mouseClick(controller.showRunningApplicationsOnlyCheckboxOutlet, Qt::LeftButton);
    EXPECT_EQ(administrative, std::vector<bool>{false});
    EXPECT_EQ(running, (std::vector<bool>{true, false}));
}

TEST_F(SelectionOptions, HelpButtonsShowTheirTextsAsInformationalSheets) {
    show({});
    QWidget* window = controller.window();
    QTest::mouseClick(window->findChild<QToolButton*>("administrativeHelpButton"), Qt::LeftButton);
    QTest::mouseClick(window->findChild<QToolButton*>("showRunningApplicationsHelpButton"),
                      Qt::LeftButton);
    mainQueue->runAll();
    const QList<QMessageBox*> sheets = sheetsOn(window);
    ASSERT_EQ(sheets.size(), 2);
    EXPECT_EQ(sheets[0]->text(), "Lock administrative applications");
    EXPECT_EQ(sheets[0]->informativeText(),
              "With administrative applications users that are sharing your computer can (but it "
              "will be hard to) stop Vaultine from protecting your apps. \n\nThe administrative "
              "applications are: Terminal, System Monitor and Passwords and Keys.");
    EXPECT_EQ(sheets[1]->text(), "List Running Applications Only");
    EXPECT_EQ(sheets[1]->informativeText(),
              "By default, Vaultine will list the apps installed on your system. If you want to "
              "lock an app installed somewhere else, just check this option and start (run) the "
              "app.");
    for (QMessageBox* sheet : sheets) {
        EXPECT_EQ(sheet->icon(), QMessageBox::Information);
        EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    }
}

TEST_F(SelectionOptions, TheWindowStaysAboveOthersWithTheGreyFooter) {
    show({});
    EXPECT_TRUE(controller.window()->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(controller.tableFooterViewOutlet->styleSheet().contains("rgb(99, 102, 108)"));
    EXPECT_TRUE(controller.filterFieldBackgroundViewOutlet->styleSheet().contains(
        "rgba(255, 255, 255, 0.2)"));
}

// The presenter over the fake workspace and an in-memory keyring.
class SelectionPresenter : public windows_test::WindowsTest {
  protected:
    void SetUp() override {
        WindowsTest::SetUp();
        installApplication("org.gnome.TextEditor", "Text Editor");
        installApplication("org.mozilla.firefox", "Firefox");
        installApplication("org.gnome.Terminal", "Terminal");
        installApplication("gnome-system-monitor", "System Monitor");
        configuration->setLockAdministrativeApplications(false);
    }
    std::unique_ptr<SelectApplicationsWindowPresenter> startedPresenter() {
        auto presenter = std::make_unique<SelectApplicationsWindowPresenter>(*configuration);
        presenter->startService();
        return presenter;
    }
    static QStringList listed(SelectApplicationsWindowPresenter& presenter) {
        return namesOf(presenter.applicationsSelectWindowController().originalApplicationEntities);
    }
};

using SelectionLoads = SelectionPresenter;

TEST_F(SelectionLoads, TheWindowShowsEmptyThenFillsWhenTheLoadCompletes) {
    auto presenter = startedPresenter();
    EXPECT_EQ(presenter->applicationsSelectWindowController().numberOfRows(), 0);
    mainQueue->runAll();
    EXPECT_EQ(listed(*presenter),
              (QStringList{"Firefox", "System Monitor", "Terminal", "Text Editor"}));
}

TEST_F(SelectionLoads, ALockedApplicationIsNeverListed) {
    configuration->addLockedApplicationBundleId("org.mozilla.firefox");
    runApplication(41, "org.mozilla.firefox", "Firefox");
    runApplication(42, "org.gnome.TextEditor", "Text Editor");
    auto presenter = startedPresenter();
    mainQueue->runAll();
    EXPECT_FALSE(listed(*presenter).contains("Firefox"));
    QTest::mouseClick(
        presenter->applicationsSelectWindowController().showRunningApplicationsOnlyCheckboxOutlet,
        Qt::LeftButton);
    mainQueue->runAll();
    EXPECT_EQ(listed(*presenter), QStringList{"Text Editor"});
}

TEST_F(SelectionLoads, WithTheAdministrativeOptionOnTheAdministrativeApplicationsAreLeftOut) {
    configuration->setLockAdministrativeApplications(true);
    auto presenter = startedPresenter();
    mainQueue->runAll();
    EXPECT_EQ(listed(*presenter), (QStringList{"Firefox", "Text Editor"}));
}

TEST_F(SelectionLoads, WithTheAdministrativeOptionOffTheyAppearUnlessLocked) {
    configuration->addLockedApplicationBundleId("org.gnome.Terminal");
    auto presenter = startedPresenter();
    mainQueue->runAll();
    EXPECT_EQ(listed(*presenter), (QStringList{"Firefox", "System Monitor", "Text Editor"}));
}

TEST_F(SelectionLoads, TheAdministrativeCheckBoxIsTheConfigurationSwitch) {
    auto presenter = startedPresenter();
    mainQueue->runAll();
    auto& controller = presenter->applicationsSelectWindowController();
    EXPECT_FALSE(controller.lockAdministrativeApplicationsCheckboxOutlet->isChecked());
    QTest::mouseClick(controller.lockAdministrativeApplicationsCheckboxOutlet, Qt::LeftButton);
    EXPECT_TRUE(configuration->getLockAdministrativeApplications());
    mainQueue->runAll();
    EXPECT_EQ(listed(*presenter), (QStringList{"Firefox", "Text Editor"}));
}

TEST_F(SelectionLoads, APickLocksTheApplicationAndTheReloadDropsItKeepingTheFilter) {
    auto presenter = startedPresenter();
    mainQueue->runAll();
    auto& controller = presenter->applicationsSelectWindowController();
    QTest::keyClicks(controller.filterTextfieldOutlet, "e");
    controller.selectRow(0);  // Firefox
    EXPECT_EQ(configuration->getLockedApplicationsBundleIds(), QStringList{"org.mozilla.firefox"});
    mainQueue->runAll();
    EXPECT_FALSE(listed(*presenter).contains("Firefox"));
    EXPECT_EQ(controller.filterTextfieldOutlet->text(), "e");
    EXPECT_TRUE(controller.window()->isVisible());
}

TEST_F(SelectionLoads, ALoadFinishingAfterANewerOneStartedIsDropped) {
    auto presenter = startedPresenter();  // load 1 computed, its result waits for the main queue
    ASSERT_EQ(mainQueue->pendingCount(), 1u);
    presenter->applicationsSelectWindowController().onApplicationSelected(
        ApplicationEntity("Firefox", "org.mozilla.firefox"));  // load 2
    ASSERT_EQ(mainQueue->pendingCount(), 2u);
    mainQueue->runAt(1);  // load 2 finishes first
    mainQueue->runAt(0);  // the older load finishes last
    EXPECT_FALSE(listed(*presenter).contains("Firefox"));
    EXPECT_EQ(listed(*presenter), (QStringList{"System Monitor", "Terminal", "Text Editor"}));
}

TEST_F(SelectionLoads, OverlappingLoadsShowTheNewestWhateverTheOrder) {
    auto presenter = startedPresenter();
    presenter->applicationsSelectWindowController().onApplicationSelected(
        ApplicationEntity("Terminal", "org.gnome.Terminal"));
    mainQueue->runAll();  // in order: the older result is dropped, the newer one shown
    EXPECT_EQ(listed(*presenter), (QStringList{"Firefox", "System Monitor", "Text Editor"}));
}

TEST_F(SelectionLoads, ALoadFinishingAfterThePresenterIsGoneDoesNothing) {
    auto presenter = startedPresenter();
    presenter.reset();
    EXPECT_EQ(mainQueue->pendingCount(), 1u);
    mainQueue->runAll();
    SUCCEED();
}

TEST_F(SelectionLoads, FocusingTheWindowAgainListsApplicationsUnlockedMeanwhile) {
    configuration->addLockedApplicationBundleId("org.mozilla.firefox");
    auto presenter = startedPresenter();
    mainQueue->runAll();
    presenter->applicationsSelectWindowController().window()->close();
    configuration->removeLockedApplicationBundleId("org.mozilla.firefox");
    presenter->focus();
    mainQueue->runAll();
    EXPECT_TRUE(presenter->applicationsSelectWindowController().window()->isVisible());
    EXPECT_TRUE(listed(*presenter).contains("Firefox"));
}

using RunningOnly = SelectionPresenter;

TEST_F(RunningOnly, TheOptionListsTheRunningApplications) {
    runApplication(42, "org.gnome.TextEditor", "Text Editor");
    runApplication(43, "org.example.Unpacked", "Unpacked Tool");
    auto presenter = startedPresenter();
    mainQueue->runAll();
    QTest::mouseClick(
        presenter->applicationsSelectWindowController().showRunningApplicationsOnlyCheckboxOutlet,
        Qt::LeftButton);
    EXPECT_TRUE(presenter->showsRunningApplications());
    mainQueue->runAll();
    EXPECT_EQ(listed(*presenter), (QStringList{"Text Editor", "Unpacked Tool"}));
}

TEST_F(RunningOnly, StartsAndEndsRefreshTheListWhileTheOptionIsOn) {
    auto presenter = startedPresenter();
    presenter->applicationsSelectWindowController().onShowRunningApplicationsOptionChanged(true);
    mainQueue->runAll();
    EXPECT_TRUE(listed(*presenter).isEmpty());
    const auto started = runApplication(44, "org.mozilla.firefox", "Firefox");
    workspace->post(platform::WorkspaceNotification::didLaunchApplication, {44, std::nullopt});
    mainQueue->runAll();
    EXPECT_EQ(listed(*presenter), QStringList{"Firefox"});
    workspace->running.clear();
    workspace->post(platform::WorkspaceNotification::didTerminateApplication,
                    {std::nullopt, started});
    mainQueue->runAll();
    EXPECT_TRUE(listed(*presenter).isEmpty());
}

TEST_F(RunningOnly, StartsAndEndsDoNotReloadWhileTheOptionIsOff) {
    auto presenter = startedPresenter();
    mainQueue->runAll();
    runApplication(44, "org.mozilla.firefox", "Firefox");
    workspace->post(platform::WorkspaceNotification::didLaunchApplication, {44, std::nullopt});
    EXPECT_EQ(mainQueue->pendingCount(), 0u);
}

TEST_F(RunningOnly, ANewPresenterStartsWithTheOptionOff) {
    {
        auto first = startedPresenter();
        first->applicationsSelectWindowController().onShowRunningApplicationsOptionChanged(true);
        mainQueue->runAll();
    }
    auto second = startedPresenter();
    EXPECT_FALSE(second->showsRunningApplications());
    EXPECT_FALSE(second->applicationsSelectWindowController()
                     .showRunningApplicationsOnlyCheckboxOutlet->isChecked());
}

TEST_F(RunningOnly, StopServiceEndsTheMonitorAndClosesTheWindow) {
    auto presenter = startedPresenter();
    presenter->applicationsSelectWindowController().onShowRunningApplicationsOptionChanged(true);
    mainQueue->runAll();
    presenter->stopService();
    runApplication(44, "org.mozilla.firefox", "Firefox");
    workspace->post(platform::WorkspaceNotification::didLaunchApplication, {44, std::nullopt});
    EXPECT_EQ(mainQueue->pendingCount(), 0u);
    EXPECT_FALSE(presenter->applicationsSelectWindowController().window()->isVisible());
}

}  // namespace
