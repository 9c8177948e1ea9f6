// A modal message box with a single "Ok" button, critical for errors, informational otherwise.
#include "windows/LocalNotificationService.h"

#include <QMessageBox>

#include "windows/WindowAppearance.h"

void LocalNotificationService::alertWithTitle(const QString& title, const QString& message,
                                              bool isError) {
    QMessageBox alert(isError ? QMessageBox::Critical : QMessageBox::Information, title, title);
    alert.setObjectName(QStringLiteral("vaultineAlert"));
    alert.setInformativeText(message);
    alert.addButton(QStringLiteral("Ok"), QMessageBox::AcceptRole);
    alert.setWindowFlag(Qt::WindowStaysOnTopHint);
    alert.setStyleSheet(QString::fromLatin1(WindowAppearance::alertStyleSheet()));
    alert.exec();
}
