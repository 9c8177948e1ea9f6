// What the central service needs of a lock window controller: its two callbacks, show, close,
// focus and the wrong-password state. The program's is PasswordWindowController; tests use their
// own.
#pragma once

#include <QIcon>
#include <QString>
#include <functional>

class LockWindow {
  public:
    virtual ~LockWindow() = default;

    // Called with the typed text each time the user submits it.
    std::function<void(const QString& password)> passwordEntered;
    // Called when the special (Alt) key is pressed in the lock window.
    std::function<void()> specialKeyPressed;

    virtual void showServiceWindow(const QString& message, const QIcon& appIcon) = 0;
    virtual void closeServiceWindow() = 0;
    virtual void focus() = 0;
    virtual void displayErrorMessage(const QString& message) = 0;
};
