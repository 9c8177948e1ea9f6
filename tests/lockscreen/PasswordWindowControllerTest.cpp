// The lock window's controller over doubles, with real widgets drawn offscreen and QTest input:
// showing, Return and Tab, errors and the shake, the Alt key, focus keeping, closing and the
// deferred steps of a controller that is gone; the gate's ordinary window.
#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPropertyAnimation>
#include <QScreen>
#include <QSequentialAnimationGroup>
#include <QTest>
#include <QWindow>

#include "LockScreenFixture.h"
#include "lockscreen/BorderlessKeyWindow.h"
#include "lockscreen/PasswordWindowController.h"

using platform::WorkspaceNotification;
using platform::testing::FakeWindowGuards;

namespace {

class PasswordWindowTest : public LockScreenFixture {
  protected:
    void SetUp() override {
        LockScreenFixture::SetUp();
        controller = std::make_unique<PasswordWindowController>();
        controller->passwordEntered = [this](const QString& text) { entered.push_back(text); };
        controller->specialKeyPressed = [this] { ++specialKeys; };
    }
    void TearDown() override {
        controller.reset();
        LockScreenFixture::TearDown();
    }
    // Shows the window and runs the deferred step, as the event loop would.
    void show(const QIcon& icon = {}) {
        controller->showServiceWindow(QStringLiteral("Editor is locked"), icon);
        queue->runAll();
        ASSERT_NE(controller->window(), nullptr);
    }
    QWindow* nativeWindow() { return controller->window()->windowHandle(); }
    // One key event as the display server reports it (QTest's keyPress would add the modifier
    // keys' own presses).
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers) {
        QTest::simulateEvent(nativeWindow(), true, key, modifiers, QString(), false);
    }
    void release(Qt::Key key, Qt::KeyboardModifiers modifiers) {
        QTest::simulateEvent(nativeWindow(), false, key, modifiers, QString(), false);
    }
    void post(WorkspaceNotification name, const QString& identifier) {
        platform::RunningApplication application;
        application.bundleIdentifier = identifier;
        workspace->post(name, {std::nullopt, application});
    }

    std::unique_ptr<PasswordWindowController> controller;
    std::vector<QString> entered;
    int specialKeys = 0;
};

// Showing

TEST_F(PasswordWindowTest, ShowingSetsTheLockOptionsAtOnceAndShowsTheWindowOnTheNextTurn) {
    controller->showServiceWindow(QStringLiteral("Editor is locked"), {});

    EXPECT_EQ(options->presentationOptions(), 0x161u);
    EXPECT_EQ(controller->window(), nullptr);
    EXPECT_EQ(controller->displayMessage(), QStringLiteral("Editor is locked"));

    queue->runAll();

    ASSERT_NE(controller->window(), nullptr);
    EXPECT_TRUE(controller->window()->isVisible());
    EXPECT_EQ(controller->appNameLabelOutlet->text(), QStringLiteral("Editor is locked"));
}

TEST_F(PasswordWindowTest, TheWindowCoversTheWholePrimaryScreen) {
    show();

    EXPECT_EQ(controller->window()->geometry(), QGuiApplication::primaryScreen()->geometry());
}

TEST_F(PasswordWindowTest, AnOpenPopupOfThisProgramClosesBeforeTheGrabsAreTaken) {
    QWidget popup(nullptr, Qt::Popup);
    popup.show();
    ASSERT_EQ(QApplication::activePopupWidget(), &popup);

    show();

    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_FALSE(popup.isVisible());
    ASSERT_EQ(guards->records.size(), 1u);
}

TEST_F(PasswordWindowTest, TheWindowIsGuardedAsTheLockWindowBeforeItIsShown) {
    show();

    ASSERT_EQ(guards->records.size(), 1u);
    EXPECT_EQ(guards->records[0].window, controller->window());
    EXPECT_EQ(guards->records[0].role, platform::WindowGuards::Role::lockWindow);
    EXPECT_FALSE(guards->records[0].windowWasVisible);
}

TEST_F(PasswordWindowTest, TheWindowIsFramelessOnTopOfEverythingAndInTheLockColour) {
    show();
    BorderlessKeyWindow* window = controller->window();

    EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(window->windowFlags() & Qt::X11BypassWindowManagerHint);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(window->canBecomeKeyWindow());
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(65, 68, 75));
    EXPECT_TRUE(window->autoFillBackground());
}

TEST_F(PasswordWindowTest, ThePasswordFieldHidesItsTextAndHasTheLockStyle) {
    show();
    QLineEdit* field = controller->passwordFieldOutlet;

    EXPECT_EQ(field->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_TRUE(field->styleSheet().contains(QStringLiteral("border-radius: 6px")));
    EXPECT_TRUE(field->styleSheet().contains(QStringLiteral("rgba(255, 255, 255, 51)")));
    EXPECT_TRUE(field->styleSheet().contains(QStringLiteral("color: white")));
    EXPECT_EQ(controller->window()->focusWidget(), field);
}

TEST_F(PasswordWindowTest, TheIconIsShownWhenGivenAndTheErrorLineStartsEmpty) {
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::red);

    show(QIcon(pixmap));

    EXPECT_FALSE(controller->appIconOutlet->pixmap().isNull());
    EXPECT_TRUE(controller->errorMessageLabelOutlet->text().isEmpty());
}

TEST_F(PasswordWindowTest, WithoutAnIconTheIconViewStaysEmpty) {
    show();

    EXPECT_TRUE(controller->appIconOutlet->pixmap().isNull());
}

TEST_F(PasswordWindowTest, TheCentralViewIsCentredInTheWindow) {
    show();

    EXPECT_EQ(controller->centralViewOutlet->geometry().center(),
              controller->window()->rect().center());
}

// Return and Tab

TEST_F(PasswordWindowTest, ReturnInAnEmptyFieldSubmitsTheEmptyTextAndClearsTheErrorLine) {
    show();
    controller->errorMessageLabelOutlet->setText(QStringLiteral("Wrong"));

    QTest::keyClick(controller->passwordFieldOutlet, Qt::Key_Return);

    EXPECT_EQ(entered, (std::vector<QString>{QString()}));
    EXPECT_TRUE(controller->errorMessageLabelOutlet->text().isEmpty());
}

TEST_F(PasswordWindowTest, ReturnSubmitsTheTypedTextAndKeepsItAndTheFocus) {
    show();
    QTest::keyClicks(controller->passwordFieldOutlet, QStringLiteral("s3cret"));

    QTest::keyClick(controller->passwordFieldOutlet, Qt::Key_Enter);

    EXPECT_EQ(entered, (std::vector<QString>{QStringLiteral("s3cret")}));
    EXPECT_EQ(controller->passwordFieldOutlet->text(), QStringLiteral("s3cret"));
    EXPECT_EQ(controller->window()->focusWidget(), controller->passwordFieldOutlet);
}

TEST_F(PasswordWindowTest, TabDoesNotSubmit) {
    show();
    QTest::keyClicks(controller->passwordFieldOutlet, QStringLiteral("abc"));

    QTest::keyClick(controller->passwordFieldOutlet, Qt::Key_Tab);
    QTest::keyClick(controller->passwordFieldOutlet, Qt::Key_Backtab);

    EXPECT_TRUE(entered.empty());
}

TEST_F(PasswordWindowTest, AnOwnerThatClosesTheLockFromTheCallbackIsSafe) {
    show();
    controller->passwordEntered = [this](const QString&) { controller->closeServiceWindow(); };

    QTest::keyClick(controller->passwordFieldOutlet, Qt::Key_Return);

    EXPECT_EQ(controller->window(), nullptr);
}

TEST_F(PasswordWindowTest, AnOwnerThatDropsTheControllerFromTheCallbackIsSafe) {
    show();
    QPointer<QLineEdit> field = controller->passwordFieldOutlet;
    controller->passwordEntered = [this](const QString&) { controller.reset(); };

    QTest::keyClick(field, Qt::Key_Return);

    EXPECT_EQ(controller, nullptr);
}

// Errors and the shake

TEST_F(PasswordWindowTest, AnErrorIsShownOnTheNextTurn) {
    show();

    controller->displayErrorMessage(QStringLiteral("Try again"));
    EXPECT_TRUE(controller->errorMessageLabelOutlet->text().isEmpty());
    queue->runAll();

    EXPECT_EQ(controller->errorMessageLabelOutlet->text(), QStringLiteral("Try again"));
}

TEST_F(PasswordWindowTest, AnEmptyErrorClearsTheLineAndStillShakes) {
    show();
    controller->errorMessageLabelOutlet->setText(QStringLiteral("Old"));

    controller->displayErrorMessage(QString());
    queue->runAll();

    EXPECT_TRUE(controller->errorMessageLabelOutlet->text().isEmpty());
    ASSERT_NE(controller->shakeAnimation(), nullptr);
    EXPECT_EQ(controller->shakeAnimation()->state(), QAbstractAnimation::Running);
}

TEST_F(PasswordWindowTest, TheShakeMovesTheViewFromY0ToY20AndBackTwiceInOutQuad) {
    show();
    controller->displayErrorMessage(QString());
    queue->runAll();
    auto* group = qobject_cast<QSequentialAnimationGroup*>(controller->shakeAnimation());
    ASSERT_NE(group, nullptr);
    const int x = controller->centralViewOutlet->x();

    ASSERT_EQ(group->animationCount(), 4);
    EXPECT_EQ(group->totalDuration(), 400);
    for (int index = 0; index < 4; ++index) {
        auto* step = qobject_cast<QPropertyAnimation*>(group->animationAt(index));
        ASSERT_NE(step, nullptr);
        EXPECT_EQ(step->targetObject(), controller->centralViewOutlet);
        EXPECT_EQ(step->duration(), 100);
        EXPECT_EQ(step->easingCurve().type(), QEasingCurve::InOutQuad);
        const bool up = index % 2 == 0;
        EXPECT_EQ(step->startValue().toPoint(), QPoint(x, up ? 0 : 20));
        EXPECT_EQ(step->endValue().toPoint(), QPoint(x, up ? 20 : 0));
    }
    group->setCurrentTime(100);
    EXPECT_EQ(controller->centralViewOutlet->y(), 20);
    group->setCurrentTime(50);
    EXPECT_EQ(controller->centralViewOutlet->y(), 10);
}

TEST_F(PasswordWindowTest, AfterTheShakeTheViewIsBackInItsPlace) {
    show();
    const QPoint home = controller->centralViewOutlet->pos();
    controller->displayErrorMessage(QString());
    queue->runAll();

    QAbstractAnimation* shake = controller->shakeAnimation();
    shake->setCurrentTime(shake->totalDuration());

    EXPECT_EQ(controller->centralViewOutlet->pos(), home);
}

TEST_F(PasswordWindowTest, ASecondErrorReplacesTheRunningShake) {
    show();
    const QPoint home = controller->centralViewOutlet->pos();
    controller->displayErrorMessage(QStringLiteral("one"));
    queue->runAll();
    QPointer<QAbstractAnimation> first = controller->shakeAnimation();
    first->setCurrentTime(150);

    controller->displayErrorMessage(QStringLiteral("two"));
    queue->runAll();

    EXPECT_TRUE(first.isNull() || first->state() == QAbstractAnimation::Stopped);
    ASSERT_NE(controller->shakeAnimation(), first.data());
    QAbstractAnimation* second = controller->shakeAnimation();
    EXPECT_EQ(second->state(), QAbstractAnimation::Running);
    second->setCurrentTime(second->totalDuration());
    EXPECT_EQ(controller->centralViewOutlet->pos(), home);
    EXPECT_EQ(controller->errorMessageLabelOutlet->text(), QStringLiteral("two"));
}

// The Alt key

TEST_F(PasswordWindowTest, PressingAltCallsTheSpecialKeyOnceAndLetsGo) {
    show();

    press(Qt::Key_Alt, Qt::AltModifier);

    EXPECT_EQ(specialKeys, 1);
    EXPECT_TRUE(controller->lostFocusByPressingSpecialKey());
}

TEST_F(PasswordWindowTest, EveryModifierChangeWhileAltIsHeldCountsButReleasingAltDoesNot) {
    show();

    press(Qt::Key_Alt, Qt::AltModifier);
    press(Qt::Key_Shift, Qt::AltModifier | Qt::ShiftModifier);
    release(Qt::Key_Shift, Qt::AltModifier);
    EXPECT_EQ(specialKeys, 3);

    release(Qt::Key_Alt, Qt::NoModifier);
    EXPECT_EQ(specialKeys, 3);
}

TEST_F(PasswordWindowTest, ModifierReportsBeforeOrAfterTheChangeGiveTheSameCount) {
    show();

    // Modifiers as they were before each change.
    press(Qt::Key_Alt, Qt::NoModifier);
    release(Qt::Key_Alt, Qt::AltModifier);

    EXPECT_EQ(specialKeys, 1);
}

TEST_F(PasswordWindowTest, OrdinaryKeysAndOtherModifiersAloneAreNotTheSpecialKey) {
    show();

    press(Qt::Key_A, Qt::AltModifier);
    release(Qt::Key_A, Qt::AltModifier);
    press(Qt::Key_Control, Qt::ControlModifier);
    release(Qt::Key_Control, Qt::NoModifier);

    EXPECT_EQ(specialKeys, 0);
    EXPECT_FALSE(controller->lostFocusByPressingSpecialKey());
}

TEST_F(PasswordWindowTest, TheAltKeyDoesNotGiveUpTheLockWindowsGuard) {
    show();

    press(Qt::Key_Alt, Qt::AltModifier);

    EXPECT_EQ(guards->liveGuards(), 1u);
    EXPECT_EQ(options->presentationOptions(), 0x161u);
}

// Focus keeping

TEST_F(PasswordWindowTest, DeactivationOfThisProgramTakesTheFocusBack) {
    show();

    post(WorkspaceNotification::didDeactivateApplication, ownIdentifier);

    EXPECT_EQ(queue->pendingCount(), 1u);
}

TEST_F(PasswordWindowTest, AfterTheAltKeyDeactivationIsAccepted) {
    show();
    controller->modifierFlagsChanged(Qt::AltModifier);

    post(WorkspaceNotification::didDeactivateApplication, ownIdentifier);

    EXPECT_EQ(queue->pendingCount(), 0u);
}

TEST_F(PasswordWindowTest, ActivationOfThisProgramEndsTheLetGo) {
    show();
    controller->modifierFlagsChanged(Qt::AltModifier);

    post(WorkspaceNotification::didActivateApplication, ownIdentifier);
    EXPECT_FALSE(controller->lostFocusByPressingSpecialKey());
    post(WorkspaceNotification::didDeactivateApplication, ownIdentifier);

    EXPECT_EQ(queue->pendingCount(), 1u);
}

TEST_F(PasswordWindowTest, OtherProgramsLeaveTheFlagAndTheFocusAlone) {
    show();
    post(WorkspaceNotification::didDeactivateApplication, QStringLiteral("org.example.Editor"));
    EXPECT_EQ(queue->pendingCount(), 0u);

    controller->modifierFlagsChanged(Qt::AltModifier);
    post(WorkspaceNotification::didActivateApplication, QStringLiteral("org.example.Editor"));

    EXPECT_TRUE(controller->lostFocusByPressingSpecialKey());
}

TEST_F(PasswordWindowTest, NotificationsWithoutAnApplicationOrIdentifierNeverMatch) {
    show();
    workspace->post(WorkspaceNotification::didDeactivateApplication, {});
    post(WorkspaceNotification::didDeactivateApplication, QString());

    EXPECT_EQ(queue->pendingCount(), 0u);
}

TEST_F(PasswordWindowTest, TakingTheFocusBackPutsTheTypingFocusInTheField) {
    show();
    controller->passwordFieldOutlet->clearFocus();

    controller->focus();
    queue->runAll();

    EXPECT_EQ(controller->window()->focusWidget(), controller->passwordFieldOutlet);
}

// Closing

TEST_F(PasswordWindowTest, ClosingRestoresTheDefaultOptionsEvenIfSetBySomeoneElse) {
    show();
    options->setPresentationOptions(0x1);

    controller->closeServiceWindow();

    EXPECT_EQ(options->presentationOptions(), 0u);
    EXPECT_EQ(options->history.back(), 0u);
}

TEST_F(PasswordWindowTest, ClosingEndsTheWindowTheGuardAndTheObservers) {
    show();
    QPointer<BorderlessKeyWindow> window = controller->window();

    controller->closeServiceWindow();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    EXPECT_EQ(controller->window(), nullptr);
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(guards->liveGuards(), 0u);
    EXPECT_EQ(workspace->observerCount(), 0u);
}

TEST_F(PasswordWindowTest, AltAfterClosingDoesNothing) {
    show();
    QPointer<BorderlessKeyWindow> window = controller->window();
    controller->closeServiceWindow();

    QTest::simulateEvent(window->windowHandle(), true, Qt::Key_Alt, Qt::AltModifier, QString(),
                         false);

    EXPECT_EQ(specialKeys, 0);
}

TEST_F(PasswordWindowTest, ClosingBeforeTheShowStepRanNeverShowsTheWindow) {
    controller->showServiceWindow(QStringLiteral("Editor is locked"), {});
    controller->closeServiceWindow();

    queue->runAll();

    EXPECT_EQ(controller->window(), nullptr);
    EXPECT_TRUE(guards->records.empty());
    EXPECT_EQ(options->presentationOptions(), 0u);
}

// Deferred steps of a controller that is gone

TEST_F(PasswordWindowTest, DeferredStepsOfADestroyedControllerDoNothing) {
    controller->showServiceWindow(QStringLiteral("Editor is locked"), {});
    controller->focus();
    controller->displayErrorMessage(QStringLiteral("Wrong"));
    ASSERT_EQ(queue->pendingCount(), 3u);

    controller.reset();

    EXPECT_EQ(queue->runAll(), 3);
    EXPECT_TRUE(guards->records.empty());
}

TEST_F(PasswordWindowTest, DeferredStepsAfterTheWindowIsShownAndTheControllerGoneDoNothing) {
    show();
    controller->focus();
    controller->displayErrorMessage(QStringLiteral("Wrong"));

    controller.reset();

    EXPECT_EQ(queue->runAll(), 2);
    EXPECT_EQ(guards->liveGuards(), 0u);
}

TEST_F(PasswordWindowTest, WorkspaceNotificationsAfterTheControllerIsGoneAreIgnored) {
    show();
    controller.reset();

    post(WorkspaceNotification::didDeactivateApplication, ownIdentifier);

    EXPECT_EQ(workspace->observerCount(), 0u);
    EXPECT_EQ(queue->pendingCount(), 0u);
}

TEST_F(PasswordWindowTest, TheGatesOrdinaryWindowIsTheWindowManagersAndHandsItsCloseToTheOwner) {
    controller = std::make_unique<PasswordWindowController>(
        PasswordWindowController::Presentation::ordinaryWindow);
    int closes = 0;
    controller->closedByUser = [&closes] { ++closes; };
    controller->title = QStringLiteral("Editor");
    show();
    BorderlessKeyWindow* window = controller->window();

    EXPECT_FALSE(window->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_FALSE(window->windowFlags() & Qt::X11BypassWindowManagerHint);
    EXPECT_FALSE(window->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Editor"));
    EXPECT_TRUE(guards->records.empty());
    EXPECT_EQ(workspace->observerCount(), 0u);

    // The user's close: the owner is told on the next turn, and the window stays until it closes.
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(closes, 0);
    queue->runAll();
    EXPECT_EQ(closes, 1);
    controller->closeServiceWindow();
    queue->runAll();
    EXPECT_EQ(closes, 1);
}

}  // namespace
