// Asking the GNOME Shell extension for the lock and passing on what is typed there.
#include "lockscreen/GnomeShellLockWindow.h"

#include <QDir>
#include <QPixmap>
#include <QStandardPaths>

#include "platform/linux/GnomeShellLock.h"

GnomeShellLockWindow::GnomeShellLockWindow(platform::GnomeShellLock& shell) : shell(shell) {}

GnomeShellLockWindow::~GnomeShellLockWindow() {
    closeServiceWindow();
}

void GnomeShellLockWindow::showServiceWindow(const QString& message, const QIcon& appIcon) {
    serial = shell.lock(message, iconReference(appIcon), PROMPT_LINE);
    shell.onPasswordEntered = [this, shown = serial](unsigned typedSerial, const QString& text) {
        if (typedSerial == shown && passwordEntered)
            passwordEntered(text);
    };
}

void GnomeShellLockWindow::closeServiceWindow() {
    if (serial == 0)
        return;
    shell.unlock(serial);
    serial = 0;
}

void GnomeShellLockWindow::displayErrorMessage(const QString& message) {
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
