// Alerts: deferred to the main queue, sheets on a window or application-modal without one, the
// icon of each type, option buttons and their responses, and the single "Ok" alert.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "WindowsTestEnvironment.h"
#include "windows/AlertMessagesService.h"
#include "windows/LocalNotificationService.h"

namespace {

using windows_test::WindowsTest;

// What a modal alert looked like while it ran, read from inside its event loop.
struct SeenAlert {
    QString text;
    QString informativeText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    Qt::WindowModality modality = Qt::NonModal;
    QStringList buttons;
};

// Answers the next application-modal alert with the button titled `press` (the first button when
// empty), recording what it showed.
void answerNextModalAlert(SeenAlert& seen, const QString& press = QString()) {
    QTimer::singleShot(0, [&seen, press] {
        auto* alert = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(alert, nullptr);
        seen.text = alert->text();
        seen.informativeText = alert->informativeText();
        seen.icon = alert->icon();
        seen.modality = alert->windowModality();
        QAbstractButton* chosen = nullptr;
        for (QAbstractButton* button : alert->buttons()) {
            seen.buttons.append(button->text().remove('&'));
            if (!chosen && (press.isEmpty() || button->text().remove('&') == press))
                chosen = button;
        }
        ASSERT_NE(chosen, nullptr);
        chosen->click();
    });
}

using AlertDeferral = WindowsTest;

TEST_F(AlertDeferral, ShowAlertReturnsBeforeTheAlertExists) {
    QWidget window;
    AlertMessagesService().showAlert("Title", "Message", 1, &window);
    EXPECT_TRUE(sheetsOn(&window).isEmpty());
    EXPECT_EQ(mainQueue->pendingCount(), 1u);
}

TEST_F(AlertDeferral, AlertShowsOnTheNextTurnOfTheMainQueue) {
    QWidget window;
    AlertMessagesService().showAlert("Title", "Message", 1, &window);
    mainQueue->runAll();
    ASSERT_EQ(sheetsOn(&window).size(), 1);
    EXPECT_TRUE(sheetsOn(&window).front()->isVisible());
}

using AlertSheets = WindowsTest;

TEST_F(AlertSheets, SheetIsWindowModalWithTitleAsTextAndMessageAsInformativeText) {
    QWidget window;
    AlertMessagesService().showAlert("There was an error..", "The passwords do not match", 2,
                                     &window);
    mainQueue->runAll();
    QMessageBox* sheet = sheetsOn(&window).value(0);
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->text(), "There was an error..");
    EXPECT_EQ(sheet->informativeText(), "The passwords do not match");
}

TEST_F(AlertSheets, TypeZeroIsAWarningOneInformationalTwoCritical) {
    QWidget window;
    for (int type : {0, 1, 2})
        AlertMessagesService().showAlert("Title", "Message", type, &window);
    mainQueue->runAll();
    const QList<QMessageBox*> sheets = sheetsOn(&window);
    ASSERT_EQ(sheets.size(), 3);
    EXPECT_EQ(sheets[0]->icon(), QMessageBox::Warning);
    EXPECT_EQ(sheets[1]->icon(), QMessageBox::Information);
    EXPECT_EQ(sheets[2]->icon(), QMessageBox::Critical);
}

TEST_F(AlertSheets, OptionsBecomeButtonsInOrderWithTheFirstAsDefault) {
    QWidget window;
    AlertMessagesService().showAlertWithOptions("Title", "Message", 1, {"One", "Two", "Three"}, {},
                                                &window);
    mainQueue->runAll();
    QMessageBox* sheet = sheetsOn(&window).value(0);
    ASSERT_NE(sheet, nullptr);
    QStringList titles;
    for (QAbstractButton* button : sheet->buttons())
        titles.append(button->text());
    EXPECT_EQ(titles, (QStringList{"One", "Two", "Three"}));
    ASSERT_NE(sheet->defaultButton(), nullptr);
    EXPECT_EQ(sheet->defaultButton()->text(), "One");
}

TEST_F(AlertSheets, CompletionHandlerReceivesOneThousandPlusTheButtonIndex) {
    QWidget window;
    int response = 0;
    AlertMessagesService().showAlertWithOptions(
        "Title", "Message", 1, {"One", "Two", "Three"}, [&](int answer) { response = answer; },
        &window);
    mainQueue->runAll();
    QMessageBox* sheet = sheetsOn(&window).value(0);
    ASSERT_NE(sheet, nullptr);
    for (QAbstractButton* button : sheet->buttons()) {
        if (button->text() == "Three")
            button->click();
    }
    EXPECT_EQ(response, 1002);
}

using ModalAlerts = WindowsTest;

TEST_F(ModalAlerts, WithoutAWindowTheAlertIsApplicationModal) {
    SeenAlert seen;
    AlertMessagesService().showAlert("There was an error", "Message", 2);
    answerNextModalAlert(seen);
    mainQueue->runAll();
    EXPECT_EQ(seen.modality, Qt::ApplicationModal);
    EXPECT_EQ(seen.text, "There was an error");
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
}

TEST_F(ModalAlerts, AWindowDestroyedBeforeTheAlertShowsGetsAModalAlertInstead) {
    auto window = std::make_unique<QWidget>();
    AlertMessagesService().showAlert("Title", "Still shown", 1, window.get());
    window.reset();
    SeenAlert seen;
    answerNextModalAlert(seen);
    mainQueue->runAll();
    EXPECT_EQ(seen.informativeText, "Still shown");
    EXPECT_EQ(seen.modality, Qt::ApplicationModal);
}

TEST_F(ModalAlerts, ModalOptionsReportThePressedButton) {
    int response = 0;
    AlertMessagesService().showAlertWithOptions("Title", "Message", 0, {"Yes", "No"},
                                                [&](int answer) { response = answer; });
    SeenAlert seen;
    answerNextModalAlert(seen, "No");
    mainQueue->runAll();
    EXPECT_EQ(seen.buttons, (QStringList{"Yes", "No"}));
    EXPECT_EQ(response, 1001);
}

using OkAlert = WindowsTest;

TEST_F(OkAlert, ErrorIsCriticalWithTheSingleButtonOk) {
    SeenAlert seen;
    answerNextModalAlert(seen);
    LocalNotificationService().alertWithTitle("Title", "Message", true);
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_EQ(seen.buttons, QStringList{"Ok"});
    EXPECT_EQ(seen.text, "Title");
    EXPECT_EQ(seen.informativeText, "Message");
}

TEST_F(OkAlert, InformationIsInformationalWithTheSingleButtonOk) {
    SeenAlert seen;
    answerNextModalAlert(seen);
    LocalNotificationService().alertWithTitle("Title", "Message", false);
    EXPECT_EQ(seen.icon, QMessageBox::Information);
    EXPECT_EQ(seen.buttons, QStringList{"Ok"});
}

TEST_F(OkAlert, RunsOnTheCallingThreadWithoutTheMainQueue) {
    SeenAlert seen;
    answerNextModalAlert(seen);
    LocalNotificationService().alertWithTitle("Title", "Message", false);
    EXPECT_EQ(mainQueue->pendingCount(), 0u);
    EXPECT_EQ(seen.text, "Title");
}

}  // namespace
