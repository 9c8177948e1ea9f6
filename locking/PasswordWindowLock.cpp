// Forwards the lock window's operations to its controller and the controller's callbacks back.
#include "locking/PasswordWindowLock.h"

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
