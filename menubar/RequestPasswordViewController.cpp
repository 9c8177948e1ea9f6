// Loads the "RequestPasswordView" form, submits on Return only (Tab just moves the focus, as in
// every password field of the program), and runs the relative shake of a wrong password.
#include "menubar/RequestPasswordViewController.h"

#include <QHideEvent>
#include <QPropertyAnimation>
#include <QSequentialAnimationGroup>
#include <QShowEvent>

#include "core/BackgroundRunner.h"
#include "ui_RequestPasswordView.h"

namespace {
constexpr int shakeDistance = 20;
constexpr int shakeHalfMilliseconds = 100;
constexpr int shakeRepeatCount = 2;
}  // namespace

RequestPasswordViewController::RequestPasswordViewController(QWidget* parent)
    : GrayGradientView(parent), ui(std::make_unique<Ui::RequestPasswordView>()) {
    ui->setupUi(this);
    passwordTextFieldOutlet = ui->passwordTextField;
    centralViewOutlet = ui->centralView;
    ui->lockImageView->animated = false;
    requestText = ui->messageLabel->text();
    // returnPressed is the end of editing by Return (or Enter); losing the focus by Tab or a click
    // ends editing too but must not submit.
    connect(ui->passwordTextField, &QLineEdit::returnPressed, this,
            &RequestPasswordViewController::submit);
    connect(ui->passwordEnterButton, &QPushButton::clicked, this,
            &RequestPasswordViewController::passwordEnterButtonClick);
    connect(ui->helpButton, &QPushButton::clicked, this,
            &RequestPasswordViewController::helpButtonClick);
}

RequestPasswordViewController::~RequestPasswordViewController() = default;

void RequestPasswordViewController::showNotice(const QString& text) {
    ui->messageLabel->setText(text.isEmpty() ? requestText : text);
}

QString RequestPasswordViewController::noticeText() const {
    return ui->messageLabel->text();
}

void RequestPasswordViewController::submit() {
    if (onPasswordEntered && passwordTextFieldOutlet)
        onPasswordEntered(passwordTextFieldOutlet->text());
}

void RequestPasswordViewController::passwordEnterButtonClick() {
    submit();
}

void RequestPasswordViewController::helpButtonClick() {
    if (onHelpRequest)
        onHelpRequest();
}

void RequestPasswordViewController::viewWillAppear() {
    if (!passwordTextFieldOutlet)
        return;
    // Deferred so that the popover window is mapped and may take the focus by then.
    QPointer<QLineEdit> field = passwordTextFieldOutlet;
    BackgroundRunner().runOnMainThread([field] {
        if (field) {
            field->activateWindow();
            field->setFocus(Qt::PopupFocusReason);
        }
    });
}

void RequestPasswordViewController::viewDidDisappear() {
    if (passwordTextFieldOutlet)
        passwordTextFieldOutlet->clear();
}

void RequestPasswordViewController::showEvent(QShowEvent* event) {
    GrayGradientView::showEvent(event);
    if (!event->spontaneous())
        viewWillAppear();
}

void RequestPasswordViewController::hideEvent(QHideEvent* event) {
    GrayGradientView::hideEvent(event);
    if (!event->spontaneous())
        viewDidDisappear();
}

void RequestPasswordViewController::wrongPassword() {
    if (!centralViewOutlet)
        return;
    // A shake that is still running is ended at its resting place first: starting from the
    // displaced position would leave the group off its place for good.
    if (shake) {
        shake->stop();
        centralViewOutlet->move(shakeRestPosition);
    }
    shakeRestPosition = centralViewOutlet->pos();
    const QPoint displaced = shakeRestPosition + QPoint(0, shakeDistance);

    auto* group = new QSequentialAnimationGroup(this);
    for (const auto& [from, to] :
         {std::pair{shakeRestPosition, displaced}, std::pair{displaced, shakeRestPosition}}) {
        auto* step = new QPropertyAnimation(centralViewOutlet, "pos", group);
        step->setDuration(shakeHalfMilliseconds);
        step->setStartValue(from);
        step->setEndValue(to);
        step->setEasingCurve(QEasingCurve::InOutQuad);
        group->addAnimation(step);
    }
    group->setLoopCount(shakeRepeatCount);
    shake = group;
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

QPushButton* RequestPasswordViewController::passwordEnterButton() const {
    return ui->passwordEnterButton;
}

QPushButton* RequestPasswordViewController::helpButton() const {
    return ui->helpButton;
}
