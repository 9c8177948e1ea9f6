// The lock window in GNOME on Wayland: the lock is drawn by our GNOME Shell extension, which also
// covers every other monitor and holds the keyboard; this controller asks for it and hears the
// password typed there.
#pragma once

#include <QIcon>
#include <QString>
#include <functional>
#include <memory>

#include "lockscreen/LockWindow.h"

namespace platform {
class GnomeShellLock;
}

// One controller serves one lock, as PasswordWindowController does; the Shell draws it, so there is
// nothing to focus or prepare. The Shell's grab keeps the Alt key from anyone but the lock, so
// specialKeyPressed is never called by the Shell. When the Shell refuses the lock, this lock is
// shown by a window of our own (`ownWindow`'s) instead, without covers.
class GnomeShellLockWindow : public LockWindow {
  public:
    using OwnWindowFactory = std::function<std::unique_ptr<LockWindow>()>;

    explicit GnomeShellLockWindow(platform::GnomeShellLock& shell,
                                  OwnWindowFactory ownWindow = nullptr);
    ~GnomeShellLockWindow() override;

    void showServiceWindow(const QString& message, const QIcon& appIcon) override;
    void closeServiceWindow() override;
    void focus() override;
    // An empty text still says the password was wrong.
    void displayErrorMessage(const QString& message) override;

    // The icon as the Shell can load it: its theme name, else a PNG written to our runtime folder.
    static QString iconReference(const QIcon& icon);

    static inline const QString WRONG_PASSWORD_LINE = QStringLiteral("Wrong password");
    static inline const QString PROMPT_LINE = QStringLiteral("Type the password to open it");

    // The window of our own that shows this lock since the Shell refused it; none before.
    LockWindow* fallbackWindow() const { return fallback.get(); }

  private:
    void showOwnWindow();

    platform::GnomeShellLock& shell;
    OwnWindowFactory ownWindow;
    std::unique_ptr<LockWindow> fallback;
    QString shownMessage;
    QIcon shownIcon;
    unsigned serial = 0;
};
