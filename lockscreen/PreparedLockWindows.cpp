// The lock window kept laid out ahead, and the next one laid out after each lock.
#include "lockscreen/PreparedLockWindows.h"

#include <QApplication>
#include <QTimer>

#include "lockscreen/PasswordWindowController.h"

PreparedLockWindows::PreparedLockWindows(PasswordWindowController::Presentation presentation)
    : presentation(presentation) {
    // Only a program with widgets has windows to prepare.
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        prepareLater(std::chrono::milliseconds(0));
}

PreparedLockWindows::~PreparedLockWindows() = default;

std::unique_ptr<LockWindow> PreparedLockWindows::take() {
    std::unique_ptr<PasswordWindowController> window =
        spare ? std::move(spare) : std::make_unique<PasswordWindowController>(presentation);
    window->prepare();
    prepareLater(nextPreparationDelay);
    return window;
}

void PreparedLockWindows::prepareLater(std::chrono::milliseconds delay) {
    QTimer::singleShot(delay, &context, [this] {
        if (spare)
            return;
        spare = std::make_unique<PasswordWindowController>(presentation);
        spare->prepare();
    });
}
