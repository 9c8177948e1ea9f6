// A plain modal alert with the one button "Ok", styled as an error or as information, run on the
// calling thread.
#pragma once

#include <QString>

class LocalNotificationService {
  public:
    // Runs the alert application-modal and returns when it is dismissed. Call on the main thread.
    void alertWithTitle(const QString& title, const QString& message, bool isError);
};
