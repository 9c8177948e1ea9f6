// The password preferences window: validation alerts, storing, Return versus Tab in the
// confirmation field, cancel, reopening with empty fields, and a keyring that keeps nothing.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "WindowsTestEnvironment.h"
#include "windows/PreferencesWindowPresenter.h"

namespace {

class PreferencesWindow : public windows_test::WindowsTest {
  protected:
    void SetUp() override {
        WindowsTest::SetUp();
        presenter = std::make_unique<PreferencesWindowPresenter>(*configuration);
        presenter->onConfirmNewPassword = [this] { ++confirmations; };
        presenter->present();
        controller = &presenter->preferencesWindowController();
        window = controller->window();
    }
    void TearDown() override {
        presenter.reset();
        WindowsTest::TearDown();
    }

    void type(const QString& password, const QString& confirmation) {
        controller->passwordTextFieldOutlet->setText(password);
        controller->confirmPasswordTextFieldOutlet->setText(confirmation);
    }
    void clickConfirm() {
        QTest::mouseClick(window->findChild<QPushButton*>("confirmButton"), Qt::LeftButton);
    }
    // The messages of the alerts shown so far, after the main queue has run.
    QStringList alertMessages() {
        mainQueue->runAll();
        QStringList messages;
        for (QMessageBox* sheet : sheetsOn(window))
            messages.append(sheet->informativeText());
        return messages;
    }

    std::unique_ptr<PreferencesWindowPresenter> presenter;
    PreferencesWindowController* controller = nullptr;
    QWidget* window = nullptr;
    int confirmations = 0;
};

using PasswordValidation = PreferencesWindow;

TEST_F(PasswordValidation, EmptyFieldsShowTheEmptyPasswordAlertAsACriticalSheet) {
    clickConfirm();
    mainQueue->runAll();
    const QList<QMessageBox*> sheets = sheetsOn(window);
    ASSERT_EQ(sheets.size(), 1);
    EXPECT_EQ(sheets[0]->text(), "There was an error..");
    EXPECT_EQ(sheets[0]->informativeText(), "The password cannot be empty");
    EXPECT_EQ(sheets[0]->icon(), QMessageBox::Critical);
    EXPECT_EQ(sheets[0]->windowModality(), Qt::WindowModal);
    EXPECT_FALSE(configuration->hasPassword());
}

TEST_F(PasswordValidation, AlertsFollowTheFirstFailingRuleInOrder) {
    clickConfirm();
    type("ab", "ab");
    clickConfirm();
    type("abc", "abd");
    clickConfirm();
    EXPECT_EQ(alertMessages(), (QStringList{"The password cannot be empty",
                                            "The password cannot be smaller than 3 characters",
                                            "The passwords do not match"}));
    EXPECT_FALSE(configuration->hasPassword());
    EXPECT_EQ(confirmations, 0);
}

TEST_F(PasswordValidation, ARejectedPairKeepsTheWindowOpenWithWhatWasTyped) {
    type("secret", "secrets");
    clickConfirm();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(controller->passwordTextFieldOutlet->text(), "secret");
    EXPECT_EQ(controller->confirmPasswordTextFieldOutlet->text(), "secrets");
}

TEST_F(PasswordValidation, TextsAreHandedOnUntrimmed) {
    QString password, confirmation;
    controller->onPasswordEntered = [&](const QString& first, const QString& second) {
        password = first;
        confirmation = second;
    };
    type(" pass ", "pass ");
    clickConfirm();
    EXPECT_EQ(password, " pass ");
    EXPECT_EQ(confirmation, "pass ");
}

using PasswordStoring = PreferencesWindow;

TEST_F(PasswordStoring, AnAcceptedPasswordIsStoredClosesTheWindowAndIsReported) {
    type("secret", "secret");
    clickConfirm();
    EXPECT_EQ(configuration->getApplicationPassword(), "secret");
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(confirmations, 1);
    EXPECT_TRUE(alertMessages().isEmpty());
}

TEST_F(PasswordStoring, AKeyringThatRefusesTheWriteShowsTheKeyringAlertAndKeepsTheWindowOpen) {
    secretStore->refuseWrites = true;
    type("secret", "secret");
    clickConfirm();
    EXPECT_EQ(alertMessages(), QStringList{PreferencesWindowPresenter::PASSWORD_NOT_SAVED_MESSAGE});
    EXPECT_EQ(sheetsOn(window).value(0)->text(), "There was an error..");
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(confirmations, 0);
}

TEST_F(PasswordStoring, AKeyringThatRefusesTheWriteKeepsThePreviousPassword) {
    configuration->setApplicationPassword("old password");
    secretStore->refuseWrites = true;
    type("new password", "new password");
    clickConfirm();
    EXPECT_EQ(configuration->getApplicationPassword(), "old password");
    EXPECT_EQ(alertMessages(), QStringList{PreferencesWindowPresenter::PASSWORD_NOT_SAVED_MESSAGE});
}

TEST_F(PasswordStoring, AnUnreachableKeyringShowsTheKeyringAlert) {
    secretStore->unreachable = true;
    type("secret", "secret");
    clickConfirm();
    EXPECT_EQ(alertMessages(), QStringList{PreferencesWindowPresenter::PASSWORD_NOT_SAVED_MESSAGE});
    EXPECT_EQ(confirmations, 0);
}

TEST_F(PasswordStoring, TheMessageTellsWhatToDo) {
    EXPECT_EQ(PreferencesWindowPresenter::PASSWORD_NOT_SAVED_MESSAGE,
              "Vaultine could not save the password in your keyring. Check that a keyring "
              "service is running and unlocked, then try again.");
}

using ConfirmationKeys = PreferencesWindow;

TEST_F(ConfirmationKeys, ReturnInTheConfirmationFieldSubmits) {
    type("secret", "secret");
    QTest::keyClick(controller->confirmPasswordTextFieldOutlet, Qt::Key_Return);
    EXPECT_EQ(configuration->getApplicationPassword(), "secret");
    EXPECT_EQ(confirmations, 1);
}

TEST_F(ConfirmationKeys, TabOutOfTheConfirmationFieldSubmitsNothing) {
    int submissions = 0;
    controller->onPasswordEntered = [&](const QString&, const QString&) { ++submissions; };
    type("secret", "secret");
    controller->confirmPasswordTextFieldOutlet->setFocus();
    QTest::keyClick(controller->confirmPasswordTextFieldOutlet, Qt::Key_Tab);
    controller->confirmPasswordTextFieldOutlet->clearFocus();
    EXPECT_EQ(submissions, 0);
}

TEST_F(ConfirmationKeys, ReturnInThePasswordFieldOnlyMovesToTheConfirmation) {
    int submissions = 0;
    controller->onPasswordEntered = [&](const QString&, const QString&) { ++submissions; };
    type("secret", "secret");
    QTest::keyClick(controller->passwordTextFieldOutlet, Qt::Key_Return);
    EXPECT_EQ(submissions, 0);
    EXPECT_EQ(window->focusWidget(), controller->confirmPasswordTextFieldOutlet);
}

using PreferencesCancel = PreferencesWindow;

TEST_F(PreferencesCancel, CancelAfterARejectedAttemptClosesAndKeepsTheStoredPassword) {
    configuration->setApplicationPassword("kept");
    type("new", "other");
    clickConfirm();
    QTest::mouseClick(window->findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(configuration->getApplicationPassword(), "kept");
    EXPECT_EQ(confirmations, 0);
}

TEST_F(PreferencesCancel, ReopeningAfterCancelShowsEmptyFieldsWithTheCursorInThePassword) {
    type("typed", "typed too");
    QTest::mouseClick(window->findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
    presenter->focus();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(controller->passwordTextFieldOutlet->text().isEmpty());
    EXPECT_TRUE(controller->confirmPasswordTextFieldOutlet->text().isEmpty());
    EXPECT_EQ(window->focusWidget(), controller->passwordTextFieldOutlet);
}

using PreferencesLook = PreferencesWindow;

TEST_F(PreferencesLook, BothFieldsHideWhatIsTyped) {
    EXPECT_EQ(controller->passwordTextFieldOutlet->echoMode(), QLineEdit::Password);
    EXPECT_EQ(controller->confirmPasswordTextFieldOutlet->echoMode(), QLineEdit::Password);
}

TEST_F(PreferencesLook, TheWindowStaysAboveOthersWithTheGreyDivider) {
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(controller->lineViewOutlet->styleSheet().contains("rgb(99, 102, 108)"));
    EXPECT_EQ(controller->lineViewOutlet->height(), 1);
}

}  // namespace
