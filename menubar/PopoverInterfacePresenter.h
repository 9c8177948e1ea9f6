// Connects the menu-bar interface to the rest of Vaultine: creates the status item and popover,
// feeds the popover from the configuration, checks the password it asks for, turns its switches
// and removals into configuration changes and hands the other requests on to the hub.
#pragma once

#include <QString>
#include <functional>
#include <memory>

class ApplicationEntity;
class ConfigurationAndPreferencesService;
class PopoverRemoteControl;
class PopoverViewController;
class PopupSystem;

class PopoverInterfacePresenter {
  public:
    // The texts of the alert shown when the login item cannot be switched.
    static inline const QString LOGIN_ITEM_ERROR_TITLE = QStringLiteral("There was an error");
    static inline const QString LOGIN_ITEM_ERROR_MESSAGE = QStringLiteral(
        "Vaultine could not be added to the login items. You can check your system's security "
        "settings or you can restart your computer and retry");

    // The request page's message while the keyring does not answer.
    static inline const QString KEYRING_UNAVAILABLE_NOTICE = QStringLiteral(
        "The keyring is locked or not answering. Vaultine keeps protecting what it last read; "
        "unlock the keyring to change its settings.");

    // Over the shared configuration service.
    PopoverInterfacePresenter();
    // Over a configuration service of the caller's choice, which must outlive the presenter.
    explicit PopoverInterfacePresenter(ConfigurationAndPreferencesService& configuration);
    ~PopoverInterfacePresenter();

    // Creates the status item and wires everything; call once, after setting the callbacks.
    void startService();
    // Opens the popover (needs startService).
    void showService();
    // Closes the popover if it is open (needs startService).
    void hideService();
    void stopService() {}

    // Copied into the popover by startService: set them before.
    std::function<void()> onAddApplicationsRequest;
    std::function<void()> onChangePreferencesRequest;
    std::function<void()> onHelpRequest;
    // "Quit" of the options menu. The quit service lives in app/, which builds on this folder, so
    // the hub hands the quitting in: set it before startService.
    std::function<void()> onQuitRequest;

    // Switching Corvane's login item (true on success) and showing an alert (title, message,
    // type): the system and alert services unless tests replace them before startService.
    std::function<bool(bool)> registerLoginItem;
    // Whether Corvane's login item is registered now, and the watch on it (the system service
    // unless tests replace them before startService).
    std::function<bool()> loginItemRegistered;
    std::function<void(std::function<void()>)> observeLoginItem;
    std::function<void(const QString&, const QString&, int)> showAlert;

    PopoverViewController* popover() const { return popoverViewController.get(); }
    PopupSystem* popup() const { return popupSystem.get(); }

  private:
    void passwordEntered(const QString& password);
    void removeApplicationRequest(const ApplicationEntity& entity);
    void isActiveConfigurationChanged(bool active);
    void startAtLoginConfigurationChanged(bool startAtLogin);
    bool keepLoginItem();

    std::unique_ptr<PopupSystem> popupSystem;
    std::unique_ptr<PopoverViewController> popoverViewController;
    ConfigurationAndPreferencesService* configurationAndPreferencesService;
    std::unique_ptr<PopoverRemoteControl> remoteControl;
    // Lets the change handler, which the configuration keeps for ever, outlive the presenter.
    std::shared_ptr<PopoverInterfacePresenter*> self;
};
