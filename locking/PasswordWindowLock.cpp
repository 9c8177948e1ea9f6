// Forwards the lock window's operations to its controller and the controller's callbacks back;
// keeps the next lock window laid out ahead.
#include "locking/PasswordWindowLock.h"

#include <QApplication>
#include <QTimer>

#include "lockscreen/PasswordWindowController.h"

PasswordWindowLock::PasswordWindowLock()
    : controller(std::make_unique<PasswordWindowController>()) {
    // The forwarding closures read the interface's callbacks at call time, so the owner may set
    // them after construction.
    controller->passwordEntered = [this](const QString& password) {
        if (passwordEntered)
            passwordEntered(password);
    };
    controller->specialKeyPressed = [this] {
        if (specialKeyPressed)
            specialKeyPressed();
    };
}

PasswordWindowLock::~PasswordWindowLock() = default;

void PasswordWindowLock::showServiceWindow(const QString& message, const QIcon& appIcon) {
    controller->showServiceWindow(message, appIcon);
}

void PasswordWindowLock::closeServiceWindow() {
    controller->closeServiceWindow();
}

void PasswordWindowLock::focus() {
    controller->focus();
}

void PasswordWindowLock::displayErrorMessage(const QString& message) {
    controller->displayErrorMessage(message);
}

void PasswordWindowLock::prepare() {
    controller->prepare();
}

PreparedLockWindows::PreparedLockWindows() {
    // Only a program with widgets has windows to prepare.
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        prepareLater(std::chrono::milliseconds(0));
}

std::unique_ptr<LockWindow> PreparedLockWindows::take() {
    std::unique_ptr<PasswordWindowLock> window =
        spare ? std::move(spare) : std::make_unique<PasswordWindowLock>();
    window->prepare();
    prepareLater(nextPreparationDelay);
    return window;
}

void PreparedLockWindows::prepareLater(std::chrono::milliseconds delay) {
    QTimer::singleShot(delay, &context, [this] {
        if (spare)
            return;
        spare = std::make_unique<PasswordWindowLock>();
        spare->prepare();
    });
}
