// Asking the GNOME Shell extension for the lock and passing on what is typed there.
#include "lockscreen/GnomeShellLockWindow.h"

#include <QDir>
#include <QPixmap>
#include <QStandardPaths>

#include "platform/linux/GnomeShellLock.h"

GnomeShellLockWindow::GnomeShellLockWindow(platform::GnomeShellLock& shell,
                                           OwnWindowFactory ownWindow)
    : shell(shell), ownWindow(std::move(ownWindow)) {}

GnomeShellLockWindow::~GnomeShellLockWindow() {
    closeServiceWindow();
}

void GnomeShellLockWindow::showServiceWindow(const QString& message, const QIcon& appIcon) {
    shownMessage = message;
    shownIcon = appIcon;
    serial = shell.lock(message, iconReference(appIcon), PROMPT_LINE);
    shell.onPasswordEntered = [this, shown = serial](unsigned typedSerial, const QString& text) {
        if (typedSerial == shown && passwordEntered)
            passwordEntered(text);
    };
    shell.onLockRefused = [this, shown = serial](unsigned refusedSerial) {
        if (refusedSerial == shown && serial == shown)
            showOwnWindow();
    };
}

// A lock the Shell will not draw is still shown: as an ordinary window, the best this session
// offers a client.
void GnomeShellLockWindow::showOwnWindow() {
    if (fallback || !ownWindow)
        return;
    fallback = ownWindow();
    if (!fallback)
        return;
    fallback->passwordEntered = [this](const QString& text) {
        if (passwordEntered)
            passwordEntered(text);
    };
    fallback->specialKeyPressed = [this] {
        if (specialKeyPressed)
            specialKeyPressed();
    };
    fallback->showServiceWindow(shownMessage, shownIcon);
}

void GnomeShellLockWindow::closeServiceWindow() {
    if (fallback)
        fallback->closeServiceWindow();
    if (serial == 0)
        return;
    shell.unlock(serial);
    serial = 0;
}

void GnomeShellLockWindow::focus() {
    if (fallback)
        fallback->focus();
}

void GnomeShellLockWindow::displayErrorMessage(const QString& message) {
    if (fallback)
        fallback->displayErrorMessage(message);
    if (serial != 0)
        shell.showError(serial, message.isEmpty() ? WRONG_PASSWORD_LINE : message);
}

QString GnomeShellLockWindow::iconReference(const QIcon& icon) {
    if (!icon.name().isEmpty())
        return icon.name();
    const QPixmap pixmap = icon.pixmap(128, 128);
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (pixmap.isNull() || folder.isEmpty())
        return QString();
    const QString path = QDir(folder).filePath(QStringLiteral("vaultine-lock-icon.png"));
    return pixmap.save(path, "PNG") ? path : QString();
}
