// The lock screen's controller: loading and styling the form (ahead of time when prepared), the
// show, the deferred focus and error steps, Return handling, the Alt key and focus keeping.
#include "lockscreen/PasswordWindowController.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPropertyAnimation>
#include <QSequentialAnimationGroup>
#include <QWindow>

#include "core/BackgroundRunner.h"
#include "lockscreen/BorderlessKeyWindow.h"
#include "lockscreen/ScreenFrameFollower.h"
#include "platform/MainBundle.h"
#include "platform/PresentationOptions.h"
#include "platform/WindowGuard.h"
#include "ui_PasswordWindow.h"

namespace {

constexpr int shakeStepMs = 100;
constexpr int shakeLowY = 0;
constexpr int shakeHighY = 20;
constexpr int shakeRepeats = 2;
constexpr QSize iconSize(128, 128);
constexpr int maximumPopupsToClose = 8;  // more nested menus than any of ours opens

// The field: rounded, a hairline clear border, white at 20 % behind white text and caret, and no
// focus highlight of the style.
const char* const passwordFieldStyle =
    "QLineEdit { border: 0.5px solid transparent; border-radius: 6px;"
    " background-color: rgba(255, 255, 255, 51); color: white;"
    " selection-background-color: rgba(255, 255, 255, 90); padding: 0 8px; }"
    "QLineEdit:focus { border: 0.5px solid transparent; }";

// The modifier a modifier key stands for; none for other keys.
Qt::KeyboardModifiers modifierOfKey(int key) {
    switch (key) {
        case Qt::Key_Shift:
            return Qt::ShiftModifier;
        case Qt::Key_Control:
            return Qt::ControlModifier;
        case Qt::Key_Alt:
            return Qt::AltModifier;
        case Qt::Key_Meta:
        case Qt::Key_Super_L:
        case Qt::Key_Super_R:
            return Qt::MetaModifier;
        default:
            return Qt::NoModifier;
    }
}

bool isModifierKey(int key) {
    return modifierOfKey(key) != Qt::NoModifier || key == Qt::Key_CapsLock ||
           key == Qt::Key_AltGr || key == Qt::Key_Hyper_L || key == Qt::Key_Hyper_R;
}

}  // namespace

// An ordinary lock window's size: the form's, with room around it.
constexpr QSize ordinaryWindowSize(640, 480);

PasswordWindowController::PasswordWindowController(Presentation presentation)
    : presentation(presentation) {}

PasswordWindowController::~PasswordWindowController() {
    stopObservingWorkspace();
    guard.reset();
    if (windowInstance) {
        windowInstance->hide();
        // The owner may drop us from inside one of our callbacks, while the window's field is
        // still delivering its signal: the window goes at the next turn of the event loop.
        windowInstance.release()->deleteLater();
    }
}

void PasswordWindowController::prepare() {
    if (windowInstance || closed)
        return;
    layOutWindow();
    windowInstance->winId();
}

void PasswordWindowController::showServiceWindow(const QString& text, const QIcon& image) {
    platform::PresentationOptions::shared().setPresentationOptions(
        platform::PresentationOptions::lockScreenOptions);
    message = text;
    icon = image;
    // A prepared window maps in this turn, before the event loop can run anything else: the lock
    // is on screen as early as it can be.
    if (windowInstance) {
        showWindow();
        return;
    }
    BackgroundRunner().runOnMainThread([self = QPointer(this)] {
        if (self && !self->closed)
            self->showWindow();
    });
}

void PasswordWindowController::closeServiceWindow() {
    closed = true;
    // The guard goes while the lock options are still set, so that its grabs can be kept for a
    // lock window that follows at once (see platform/WindowGuard.h).
    guard.reset();
    platform::PresentationOptions::shared().setPresentationOptions(
        platform::PresentationOptions::defaultOptions);
    stopObservingWorkspace();
    if (windowInstance) {
        windowInstance->close();
        windowInstance.release()->deleteLater();
    }
}

void PasswordWindowController::focus() {
    BackgroundRunner().runOnMainThread([self = QPointer(this)] {
        if (self && !self->closed)
            self->focusNow();
    });
}

void PasswordWindowController::displayErrorMessage(const QString& text) {
    BackgroundRunner().runOnMainThread([self = QPointer(this), text] {
        if (self && !self->closed)
            self->displayErrorMessageNow(text);
    });
}

void PasswordWindowController::showWindow() {
    // The first show loads; a second one only raises the window again.
    if (!loaded)
        windowDidLoad();
    windowInstance->show();
    focusNow();
}

// What showing adds to the laid-out window: the observers, the message and icon, and the guard.
void PasswordWindowController::windowDidLoad() {
    if (!windowInstance)
        layOutWindow();
    loaded = true;
    connect(passwordFieldOutlet, &QLineEdit::returnPressed, this,
            &PasswordWindowController::returnPressedInPasswordField);
    // An ordinary window is the window manager's: it is not given the focus back, nor kept in
    // front, nor its frame.
    if (presentation == Presentation::lockScreen)
        observeWorkspace();
    qApp->installEventFilter(this);

    appNameLabelOutlet->setText(message);
    if (!icon.isNull())
        appIconOutlet->setPixmap(icon.pixmap(iconSize));
    // The message may need another width than the laid-out view had.
    windowInstance->centerView();

    // An open menu or popover of ours holds the pointer through the toolkit's own grab, which
    // the lock's grab cannot take over: it closes first (a bounded number of tries, in case one
    // refuses to close).
    for (int tries = 0; tries < maximumPopupsToClose; ++tries) {
        QWidget* popup = QApplication::activePopupWidget();
        if (!popup)
            break;
        popup->close();
    }
    if (presentation == Presentation::ordinaryWindow) {
        windowInstance->setWindowTitle(title);
        return;
    }
    // Before the window maps, so the grabs are held from the first moment it is visible.
    guard = platform::WindowGuards::shared().guard(*windowInstance,
                                                   platform::WindowGuards::Role::lockWindow);
}

void PasswordWindowController::layOutWindow() {
    windowInstance = std::make_unique<BorderlessKeyWindow>();
    Ui::PasswordWindow form;
    form.setupUi(windowInstance.get());
    appIconOutlet = form.appIconOutlet;
    appNameLabelOutlet = form.appNameLabelOutlet;
    errorMessageLabelOutlet = form.errorMessageLabelOutlet;
    passwordFieldOutlet = form.passwordFieldOutlet;
    centralViewOutlet = form.centralViewOutlet;

    if (presentation == Presentation::ordinaryWindow) {
        windowInstance->setWindowFlags(Qt::Window);
        windowInstance->resize(ordinaryWindowSize);
    } else {
        // Over the whole main screen, rebuilt when the screens change.
        new ScreenFrameFollower(*windowInstance, ScreenFrameFollower::mainScreenFrame());
    }

    appIconOutlet->clear();
    appNameLabelOutlet->clear();
    passwordFieldOutlet->clear();
    errorMessageLabelOutlet->clear();
    passwordFieldOutlet->setStyleSheet(QString::fromLatin1(passwordFieldStyle));
    passwordFieldOutlet->setAttribute(Qt::WA_MacShowFocusRect, false);
    passwordFieldOutlet->setContextMenuPolicy(Qt::NoContextMenu);
    windowInstance->setCenteredView(centralViewOutlet);
}

void PasswordWindowController::focusNow() {
    if (!windowInstance)
        return;
    windowInstance->raise();
    windowInstance->activateWindow();
    passwordFieldOutlet->setFocus(Qt::OtherFocusReason);
}

void PasswordWindowController::displayErrorMessageNow(const QString& text) {
    if (!windowInstance)
        return;
    errorMessageLabelOutlet->setText(text);
    startShake();
}

void PasswordWindowController::startShake() {
    // A new error replaces a running shake; the view goes back to its place either way.
    if (shake) {
        shake->stop();
        windowInstance->centerView();
    }
    QWidget* view = centralViewOutlet;
    const int x = view->x();
    auto* group = new QSequentialAnimationGroup(view);
    for (int repeat = 0; repeat < shakeRepeats; ++repeat) {
        for (const auto& [from, to] :
             {std::pair(shakeLowY, shakeHighY), std::pair(shakeHighY, shakeLowY)}) {
            auto* step = new QPropertyAnimation(view, "pos", group);
            step->setDuration(shakeStepMs);
            step->setStartValue(QPoint(x, from));
            step->setEndValue(QPoint(x, to));
            step->setEasingCurve(QEasingCurve::InOutQuad);
            group->addAnimation(step);
        }
    }
    connect(group, &QAbstractAnimation::finished, windowInstance.get(),
            &BorderlessKeyWindow::centerView);
    shake = group;
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

void PasswordWindowController::returnPressedInPasswordField() {
    errorMessageLabelOutlet->clear();
    const QPointer<PasswordWindowController> self(this);
    if (passwordEntered)
        passwordEntered(passwordFieldOutlet->text());
    // The callback may have closed or even dropped this controller.
    if (self && windowInstance && passwordFieldOutlet)
        passwordFieldOutlet->setFocus(Qt::OtherFocusReason);
}

bool PasswordWindowController::eventFilter(QObject* watched, QEvent* event) {
    // The user's close of an ordinary lock window goes to the owner, on the next turn (the owner
    // may close the window in answer); the window stays until the owner closes it.
    if (event->type() == QEvent::Close && watched == windowInstance.get() && !closed &&
        closedByUser) {
        event->ignore();
        BackgroundRunner().runOnMainThread([self = QPointer(this)] {
            if (self && !self->closed && self->closedByUser)
                self->closedByUser();
        });
        return true;
    }
    const bool isKey = event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease;
    if (!isKey || closed || !qobject_cast<QWindow*>(watched))
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->isAutoRepeat() || !isModifierKey(key->key()))
        return false;
    // Some platforms report the modifiers before the change, some after: derive the new set.
    Qt::KeyboardModifiers flags = key->modifiers();
    if (event->type() == QEvent::KeyPress)
        flags |= modifierOfKey(key->key());
    else
        flags &= ~modifierOfKey(key->key());
    modifierFlagsChanged(flags);
    return false;  // the event goes on unchanged
}

void PasswordWindowController::modifierFlagsChanged(Qt::KeyboardModifiers flags) {
    if (!(flags & Qt::AltModifier))
        return;
    letGo = true;
    if (specialKeyPressed)
        specialKeyPressed();
}

void PasswordWindowController::observeWorkspace() {
    auto& workspace = platform::Workspace::shared();
    const QPointer<PasswordWindowController> self(this);
    workspaceObservers.push_back(
        workspace.addObserver(platform::WorkspaceNotification::didActivateApplication,
                              [self](const platform::WorkspaceNotificationInfo& info) {
                                  if (self)
                                      self->windowGotFocus(info);
                              }));
    workspaceObservers.push_back(
        workspace.addObserver(platform::WorkspaceNotification::didDeactivateApplication,
                              [self](const platform::WorkspaceNotificationInfo& info) {
                                  if (self)
                                      self->windowLostFocus(info);
                              }));
}

void PasswordWindowController::stopObservingWorkspace() {
    if (qApp)
        qApp->removeEventFilter(this);
    if (workspaceObservers.empty())
        return;
    auto& workspace = platform::Workspace::shared();
    for (const auto id : workspaceObservers)
        workspace.removeObserver(id);
    workspaceObservers.clear();
}

bool PasswordWindowController::isThisProgram(
    const platform::WorkspaceNotificationInfo& info) const {
    // A notification without an application, or one without an identifier, never matches.
    if (!info.application || info.application->bundleIdentifier.isEmpty())
        return false;
    return info.application->bundleIdentifier == platform::MainBundle::shared().bundleIdentifier();
}

void PasswordWindowController::windowLostFocus(const platform::WorkspaceNotificationInfo& info) {
    if (!letGo && isThisProgram(info))
        focus();
}

void PasswordWindowController::windowGotFocus(const platform::WorkspaceNotificationInfo& info) {
    if (isThisProgram(info))
        letGo = false;
}
