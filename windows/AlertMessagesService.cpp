// Alerts as message boxes on the main queue (sheets on a window or application-modal), and
// desktop notifications over the session bus.
#include "windows/AlertMessagesService.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QVariantMap>
#include <QWidget>
#include <memory>
#include <vector>

#include "core/BackgroundRunner.h"
#include "windows/WindowAppearance.h"

namespace {

QMessageBox::Icon iconForType(int type) {
    switch (type) {
        case AlertMessagesService::INFORMATIONAL:
            return QMessageBox::Information;
        case AlertMessagesService::CRITICAL:
            return QMessageBox::Critical;
        default:
            return QMessageBox::Warning;
    }
}

// A message box with the alert's title as its main text and the message as the informative text.
// It stays above Vaultine's own windows, which are kept above the others.
QMessageBox* makeAlert(const QString& title, const QString& message, int type, QWidget* window) {
    auto* alert = new QMessageBox(window);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setObjectName(QStringLiteral("vaultineAlert"));
    alert->setIcon(iconForType(type));
    alert->setWindowTitle(title);
    alert->setText(title);
    alert->setInformativeText(message);
    alert->setWindowFlag(Qt::WindowStaysOnTopHint);
    alert->setStyleSheet(QString::fromLatin1(WindowAppearance::alertStyleSheet()));
    return alert;
}

// The response of the pressed button: its position among the option buttons, counted from the
// first response. A box without options has the one default button, the first response.
int responseOf(QMessageBox* alert, const std::vector<QPushButton*>& buttons) {
    for (std::size_t index = 0; index < buttons.size(); ++index) {
        if (alert->clickedButton() == buttons[index])
            return AlertMessagesService::FIRST_BUTTON_RESPONSE + static_cast<int>(index);
    }
    return AlertMessagesService::FIRST_BUTTON_RESPONSE;
}

// Shows the box as a sheet on the window when there is one, else runs it application-modal;
// the handler (if any) receives the box once it has been answered.
void presentAlert(QMessageBox* alert, bool asSheet, std::function<void(QMessageBox*)> answered) {
    if (asSheet) {
        alert->setWindowModality(Qt::WindowModal);
        QObject::connect(alert, &QMessageBox::finished, alert, [alert, answered] {
            if (answered)
                answered(alert);
        });
        alert->open();
        return;
    }
    alert->setWindowModality(Qt::ApplicationModal);
    alert->setAttribute(Qt::WA_DeleteOnClose, false);
    std::unique_ptr<QMessageBox> owned(alert);
    owned->exec();
    if (answered)
        answered(owned.get());
}

}  // namespace

void AlertMessagesService::showAlert(const QString& title, const QString& message, int type,
                                     QWidget* window) {
    QPointer<QWidget> target(window);
    const bool asSheet = window != nullptr;
    BackgroundRunner().runOnMainThread([title, message, type, target, asSheet] {
        // A window closed and destroyed before the alert shows still gets its message across.
        const bool sheet = asSheet && target;
        presentAlert(makeAlert(title, message, type, sheet ? target.data() : nullptr), sheet, {});
    });
}

void AlertMessagesService::showAlertWithOptions(const QString& title, const QString& message,
                                                int type, const QStringList& options,
                                                CompletionHandler completionHandler,
                                                QWidget* window) {
    QPointer<QWidget> target(window);
    const bool asSheet = window != nullptr;
    BackgroundRunner().runOnMainThread([=] {
        const bool sheet = asSheet && target;
        QMessageBox* alert = makeAlert(title, message, type, sheet ? target.data() : nullptr);
        std::vector<QPushButton*> buttons;
        for (const QString& option : options)
            buttons.push_back(alert->addButton(option, QMessageBox::AcceptRole));
        if (!buttons.empty())
            alert->setDefaultButton(buttons.front());
        presentAlert(alert, sheet, [buttons, completionHandler](QMessageBox* answeredAlert) {
            if (completionHandler)
                completionHandler(responseOf(answeredAlert, buttons));
        });
    });
}

void AlertMessagesService::showLocalNotification(const QString& title, const QString& message) {
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    // The desktop's default sound for a new message, from the freedesktop sound naming.
    hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    notify << QStringLiteral("Vaultine") << 0u << QString() << title << message << QStringList()
           << hints << -1;
    // Sent without waiting for an answer: a session without a notification service shows nothing.
    QDBusConnection::sessionBus().send(notify);
}
