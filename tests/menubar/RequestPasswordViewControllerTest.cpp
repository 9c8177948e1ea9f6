// The password request page: Return submits and Tab does not, leaving clears the field, showing
// focuses it on a later turn, and a wrong password shakes the central group relative to its place.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QSequentialAnimationGroup>
#include <QTest>

#include "MenubarTestEnvironment.h"
#include "menubar/RequestPasswordViewController.h"

namespace {

using menubar_test::MenubarTest;

class RequestPasswordViewControllerTest : public MenubarTest {
  protected:
    void SetUp() override {
        MenubarTest::SetUp();
        page = std::make_unique<RequestPasswordViewController>();
        page->resize(320, 420);
        page->onPasswordEntered = [this](const QString& text) { submitted.push_back(text); };
    }
    void TearDown() override {
        page.reset();
        MenubarTest::TearDown();
    }

    std::unique_ptr<RequestPasswordViewController> page;
    std::vector<QString> submitted;
};

TEST_F(RequestPasswordViewControllerTest, ReturnInTheEmptyFieldSubmitsTheEmptyText) {
    page->show();

    QTest::keyClick(page->passwordTextFieldOutlet, Qt::Key_Return);

    EXPECT_EQ(submitted, std::vector<QString>{QString()});
}

TEST_F(RequestPasswordViewControllerTest, TabSubmitsNothing) {
    page->show();
    page->passwordTextFieldOutlet->setText(QStringLiteral("typed"));

    QTest::keyClick(page->passwordTextFieldOutlet, Qt::Key_Tab);

    EXPECT_TRUE(submitted.empty());
}

TEST_F(RequestPasswordViewControllerTest, UnlockButtonSubmitsTheText) {
    page->show();
    page->passwordTextFieldOutlet->setText(QStringLiteral("typed"));

    page->passwordEnterButton()->click();

    EXPECT_EQ(submitted, std::vector<QString>{QStringLiteral("typed")});
    EXPECT_EQ(page->passwordTextFieldOutlet->text(), QStringLiteral("typed"));
}

TEST_F(RequestPasswordViewControllerTest, HelpButtonRequestsHelp) {
    int help = 0;
    page->onHelpRequest = [&] { ++help; };

    page->helpButton()->click();

    EXPECT_EQ(help, 1);
}

TEST_F(RequestPasswordViewControllerTest, LeavingClearsTheTypedText) {
    page->show();
    page->passwordTextFieldOutlet->setText(QStringLiteral("half typed"));

    page->hide();

    EXPECT_TRUE(page->passwordTextFieldOutlet->text().isEmpty());
}

TEST_F(RequestPasswordViewControllerTest, ShowingPostsTheFocusingToTheMainQueue) {
    page->show();

    EXPECT_EQ(mainQueue->pendingCount(), 1u);
    EXPECT_EQ(mainQueue->runAll(), 1);
}

TEST_F(RequestPasswordViewControllerTest, FocusingAfterThePageWentAwayDoesNothing) {
    page->show();

    page.reset();

    EXPECT_EQ(mainQueue->runAll(), 1);
}

TEST_F(RequestPasswordViewControllerTest, WrongPasswordShakesTwentyDownAndBackTwice) {
    page->show();
    const QPoint rest = page->centralViewOutlet->pos();

    page->wrongPassword();

    QSequentialAnimationGroup* shake = page->shakeAnimation();
    ASSERT_NE(shake, nullptr);
    EXPECT_EQ(shake->state(), QAbstractAnimation::Running);
    EXPECT_EQ(shake->loopCount(), 2);
    ASSERT_EQ(shake->animationCount(), 2);
    auto* down = qobject_cast<QPropertyAnimation*>(shake->animationAt(0));
    ASSERT_NE(down, nullptr);
    EXPECT_EQ(down->duration(), 100);
    EXPECT_EQ(down->easingCurve().type(), QEasingCurve::InOutQuad);
    shake->setCurrentTime(100);
    EXPECT_EQ(page->centralViewOutlet->pos(), rest + QPoint(0, 20));
    shake->setCurrentTime(300);
    EXPECT_EQ(page->centralViewOutlet->pos(), rest + QPoint(0, 20));
    shake->setCurrentTime(400);
    EXPECT_EQ(page->centralViewOutlet->pos(), rest);
}

TEST_F(RequestPasswordViewControllerTest, ShakeStartsFromWhereTheGroupStands) {
    page->show();
    page->centralViewOutlet->move(page->centralViewOutlet->pos() + QPoint(0, 7));
    const QPoint rest = page->centralViewOutlet->pos();

    page->wrongPassword();
    page->shakeAnimation()->setCurrentTime(100);

    EXPECT_EQ(page->centralViewOutlet->pos(), rest + QPoint(0, 20));
}

TEST_F(RequestPasswordViewControllerTest, ASecondShakeDuringTheFirstKeepsTheRestingPlace) {
    page->show();
    const QPoint rest = page->centralViewOutlet->pos();
    page->wrongPassword();
    page->shakeAnimation()->setCurrentTime(100);

    page->wrongPassword();
    page->shakeAnimation()->setCurrentTime(100);
    EXPECT_EQ(page->centralViewOutlet->pos(), rest + QPoint(0, 20));
    page->shakeAnimation()->setCurrentTime(400);

    EXPECT_EQ(page->centralViewOutlet->pos(), rest);
}

}  // namespace
