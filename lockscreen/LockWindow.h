// What the central service needs of a lock window controller: its callbacks, show, close, focus
// and the wrong-password state. The program's is PasswordWindowController; tests use their
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
    // Called when the user closes a lock that is an ordinary window (the gate), which stays open
    // until closeServiceWindow. Unset: a close request is not intercepted.
    std::function<void()> closedByUser;
    // The title of a lock that is an ordinary window: the locked application's name. Set before
    // the show.
    QString title;

    virtual void showServiceWindow(const QString& message, const QIcon& appIcon) = 0;
    virtual void closeServiceWindow() = 0;
    virtual void focus() = 0;
    virtual void displayErrorMessage(const QString& message) = 0;
};
