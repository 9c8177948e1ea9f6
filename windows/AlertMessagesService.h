// The one way windows put alerts in front of the user: a sheet on a given window or a free-standing
// modal alert, shown on a later turn of the main queue; and desktop notifications.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

// Stateless: create one where a message is needed and drop it afterwards.
class AlertMessagesService {
  public:
    // Alert types, used as the message box's icon.
    static constexpr int WARNING = 0;
    static constexpr int INFORMATIONAL = 1;
    static constexpr int CRITICAL = 2;
    // The response of the first option button; the second answers FIRST_BUTTON_RESPONSE + 1, ...
    static constexpr int FIRST_BUTTON_RESPONSE = 1000;

    using CompletionHandler = std::function<void(int response)>;

    // Queues the alert on the main queue and returns at once, also on the main thread. With a
    // window the alert is a window-modal sheet on it; without one (or when the window is gone by
    // the time the alert shows) it runs application-modal. Any thread may call this.
    void showAlert(const QString& title, const QString& message, int type,
                   QWidget* window = nullptr);
    // As showAlert, with one button per option in order (the first is the default); the handler
    // receives FIRST_BUTTON_RESPONSE + the index of the button pressed.
    void showAlertWithOptions(const QString& title, const QString& message, int type,
                              const QStringList& options, CompletionHandler completionHandler,
                              QWidget* window = nullptr);
    // Posts a desktop notification (org.freedesktop.Notifications) on the calling thread; without
    // a notification service nothing is shown.
    void showLocalNotification(const QString& title, const QString& message);
};
