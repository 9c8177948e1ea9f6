// Validation and storing of a new password; a rejected pair or a keyring that kept nothing is
// answered with an alert on the window, which stays open.
#include "windows/PreferencesWindowPresenter.h"

PreferencesWindowPresenter::PreferencesWindowPresenter(
    ConfigurationAndPreferencesService& configuration)
    : windowController(std::make_unique<PreferencesWindowController>()),
      configurationAndPreferencesService(configuration) {}

void PreferencesWindowPresenter::present() {
    windowController->onCancel = [this] { cancel(); };
    windowController->onPasswordEntered = [this](const QString& password,
                                                 const QString& confirmation) {
        passwordEntered(password, confirmation);
    };
    windowController->showServiceWindow();
}

void PreferencesWindowPresenter::stopService() {
    windowController->closeServiceWindow();
}

void PreferencesWindowPresenter::focus() {
    windowController->focus();
}

void PreferencesWindowPresenter::showErrorMessage(const QString& message) {
    windowController->showErrorMessage(message);
}

void PreferencesWindowPresenter::passwordEntered(const QString& password,
                                                 const QString& confirmation) {
    const auto [valid, message] =
        configurationAndPreferencesService.validateApplicationPassword(password, confirmation);
    if (!valid) {
        showErrorMessage(message);
        return;
    }
    // A locked or missing keyring keeps nothing (or the old password): claiming success then
    // would lock the user out.
    if (!configurationAndPreferencesService.setApplicationPassword(password)) {
        showErrorMessage(PASSWORD_NOT_SAVED_MESSAGE);
        return;
    }
    windowController->closeServiceWindow();
    if (onConfirmNewPassword)
        onConfirmNewPassword();
}

void PreferencesWindowPresenter::cancel() {
    windowController->closeServiceWindow();
}
