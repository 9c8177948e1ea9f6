// The password preferences window: the new password and its confirmation, cancel and confirm.
// It reports what the user does through its callbacks and stores nothing itself.
#pragma once

#include <QString>
#include <functional>
#include <memory>

class QLineEdit;
class QWidget;
namespace Ui {
class PreferencesWindow;
}

class PreferencesWindowController {
  public:
    PreferencesWindowController();
    ~PreferencesWindowController();

    // The window; the first access loads the layout "PreferencesWindow" and runs windowDidLoad.
    QWidget* window();
    // Makes the window active and brings it to the front.
    void showServiceWindow();
    // Closes (hides) the window; the controller stays usable.
    void closeServiceWindow();
    // Empties both fields, puts the cursor in the password field and shows the window.
    void focus();
    // The error alert "There was an error.." with the message, as a sheet on this window.
    void showErrorMessage(const QString& message);

    void cancelButtonClick();
    // Hands both texts, untrimmed, to onPasswordEntered.
    void confirmButtonClick();

    std::function<void()> onCancel;
    std::function<void(const QString& password, const QString& confirmation)> onPasswordEntered;

    // Outlets into the loaded window; null until it is loaded.
    QWidget* lineViewOutlet = nullptr;
    QLineEdit* passwordTextFieldOutlet = nullptr;
    QLineEdit* confirmPasswordTextFieldOutlet = nullptr;

  private:
    void windowDidLoad();

    std::unique_ptr<QWidget> loadedWindow;
    std::unique_ptr<Ui::PreferencesWindow> form;
};
