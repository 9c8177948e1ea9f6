// The lock screen's controller: shows the "PasswordWindow" form in a full-screen
// BorderlessKeyWindow over the primary screen, hands the typed password and the Alt key to its
// owner, keeps the focus. On the gate it shows the form in an ordinary window instead.
#pragma once

#include <QAbstractAnimation>
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "lockscreen/LockWindow.h"
#include "platform/Workspace.h"

class QLabel;
class QLineEdit;
class QWidget;
class BorderlessKeyWindow;

namespace platform {
class WindowGuard;
}

// One controller serves one blocked launch: created, given its two callbacks, shown once, then any
// number of focus and error calls, and closed when the lock ends. All calls on the main thread.
// The deferred steps (show, focus, error display) run through BackgroundRunner::runOnMainThread and
// do nothing once the controller is destroyed or closed.
class PasswordWindowController : public QObject, public LockWindow {
    Q_OBJECT

  public:
    // `lockScreen`: frameless over the primary screen, above everything, guarded, keeping the
    // focus. `ordinaryWindow` (the gate): decorated, of its own size, titled `title`, left to the
    // window manager; a close request is handed to `closedByUser`, when set.
    enum class Presentation { lockScreen, ordinaryWindow };

    explicit PasswordWindowController(Presentation presentation = Presentation::lockScreen);
    ~PasswordWindowController() override;

    // The two callbacks are LockWindow's: passwordEntered receives the field's text (possibly
    // empty) when Return is pressed in it; specialKeyPressed is told of every modifier change while
    // Alt is held.
    //
    // Loads and lays out the window ahead, over the primary screen and unmapped, its native window
    // made: showing it later is a map in the same turn, with no form to load first.
    void prepare();
    // Sets the presentation options, stores both values, and shows the window over the primary
    // screen, focused: at once when it was prepared, else deferred (loading it first).
    void showServiceWindow(const QString& message, const QIcon& appIcon) override;
    // Restores the presentation options to the default, stops observing, closes the window.
    void closeServiceWindow() override;
    // Deferred: activates the lock window and puts the typing focus into the password field.
    void focus() override;
    // Deferred: shows the text in the error line and shakes the central view.
    void displayErrorMessage(const QString& message) override;

    // The lock window from `prepare` or the first deferred show until closeServiceWindow.
    BorderlessKeyWindow* window() const { return windowInstance.get(); }
    const QString& displayMessage() const { return message; }
    const QIcon& appIcon() const { return icon; }
    bool lostFocusByPressingSpecialKey() const { return letGo; }
    // The shake while it runs; none when the central view is still.
    QAbstractAnimation* shakeAnimation() const { return shake.data(); }

    // Focus keeping, fed by the workspace's deactivation and activation notifications.
    void windowLostFocus(const platform::WorkspaceNotificationInfo& info);
    void windowGotFocus(const platform::WorkspaceNotificationInfo& info);
    // The Alt-key test, run for every change of the modifier keys with the new set of modifiers.
    void modifierFlagsChanged(Qt::KeyboardModifiers flags);

    // Outlets of the form; they do not own their views and are none while the window is not loaded.
    QPointer<QLabel> appIconOutlet;
    QPointer<QLabel> appNameLabelOutlet;
    QPointer<QLabel> errorMessageLabelOutlet;
    QPointer<QLineEdit> passwordFieldOutlet;
    QPointer<QWidget> centralViewOutlet;

  protected:
    // The program's keyboard monitor: sees each modifier change once, at the window it goes to.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void windowDidLoad();
    void layOutWindow();
    void startShake();
    void showWindow();
    void focusNow();
    void displayErrorMessageNow(const QString& text);
    void returnPressedInPasswordField();
    void observeWorkspace();
    void stopObservingWorkspace();
    bool isThisProgram(const platform::WorkspaceNotificationInfo& info) const;

    Presentation presentation;
    QString message;
    QIcon icon;
    bool loaded = false;  // windowDidLoad ran
    bool letGo = false;   // lostFocusByPressingSpecialKey
    bool closed = false;
    std::vector<platform::Workspace::ObserverId> workspaceObservers;
    std::unique_ptr<BorderlessKeyWindow> windowInstance;
    std::unique_ptr<platform::WindowGuard> guard;
    QPointer<QAbstractAnimation> shake;
};
