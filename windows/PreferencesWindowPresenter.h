// The logic of the password preferences window: validates the two texts, stores an accepted
// password, checks that the keyring kept it, and tells its owner.
#pragma once

#include <QString>
#include <functional>
#include <memory>

#include "storage/ConfigurationAndPreferencesService.h"
#include "windows/PreferencesWindowController.h"

class PreferencesWindowPresenter {
  public:
    // Shown when the keyring did not keep the new password (locked, absent or refusing).
    static inline const QString PASSWORD_NOT_SAVED_MESSAGE = QStringLiteral(
        "Vaultine could not save the password in your keyring. Check that a keyring service is "
        "running and unlocked, then try again.");

    explicit PreferencesWindowPresenter(ConfigurationAndPreferencesService& configuration =
                                            ConfigurationAndPreferencesService::sharedInstance());

    // Wires the window's callbacks and shows it.
    void present();
    void stopService();
    // Shows the window again with empty fields.
    void focus();
    void showErrorMessage(const QString& message);

    PreferencesWindowController& preferencesWindowController() { return *windowController; }

    // A new password was stored (and reads back from the keyring).
    std::function<void()> onConfirmNewPassword;

  private:
    void passwordEntered(const QString& password, const QString& confirmation);
    void cancel();

    std::unique_ptr<PreferencesWindowController> windowController;
    ConfigurationAndPreferencesService& configurationAndPreferencesService;
};
