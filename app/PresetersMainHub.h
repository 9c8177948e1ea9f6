// Owns every presenter and connects their requests: the popover presenter from the start, the
// selection, greeting, preferences and help presenters from their first request on.
#pragma once

#include <QStringList>
#include <functional>
#include <memory>

#include "menubar/PopoverInterfacePresenter.h"
#include "storage/ConfigurationAndPreferencesService.h"
#include "windows/GreetingsWindowPresenter.h"
#include "windows/HelpWindowPresenter.h"
#include "windows/PreferencesWindowPresenter.h"
#include "windows/SelectApplicationsWindowPresenter.h"

class PresetersMainHub {
  public:
    explicit PresetersMainHub(ConfigurationAndPreferencesService& configuration =
                                  ConfigurationAndPreferencesService::sharedInstance());
    ~PresetersMainHub();

    // The opening steps of start-up: wire the popover's requests, greet a user without a password,
    // put the status item into the tray. The greeting waits while the keyring does not answer:
    // only a keyring that answered "no password" shows it.
    void present();
    // The closing step of start-up: opens the popover unless the program was started by the
    // system's launcher (an argument beginning with "-psn_").
    void finishLaunching(const QStringList& launchArguments);
    void showPopover();

    // True when one of the arguments (the program path included) begins with "-psn_".
    static bool hasProcessSerialNumberArgument(const QStringList& launchArguments);

    // Ends Vaultine and Corvane; SafeQuitService unless tests replace it before present.
    std::function<void()> quitApplication;

    PopoverInterfacePresenter& popoverInterfacePresenter() { return *popoverPresenter; }
    GreetingsWindowPresenter* greetingsWindowPresenter() const { return greetingsPresenter.get(); }
    PreferencesWindowPresenter* preferencesWindowPresenter() const {
        return preferencesPresenter.get();
    }
    HelpWindowPresenter* helpWindowPresenter() const { return helpPresenter.get(); }
    SelectApplicationsWindowPresenter* selectApplicationsWindowPresenter() const {
        return selectApplicationsPresenter.get();
    }

  private:
    void setupPopoverCallbacks();
    void presentGreetingsIfNeeded();
    void showPreferences();
    void showHelp();
    void showApplicationsSelection();

    std::unique_ptr<HelpWindowPresenter> helpPresenter;
    std::unique_ptr<GreetingsWindowPresenter> greetingsPresenter;
    std::unique_ptr<PreferencesWindowPresenter> preferencesPresenter;
    std::unique_ptr<PopoverInterfacePresenter> popoverPresenter;
    std::unique_ptr<SelectApplicationsWindowPresenter> selectApplicationsPresenter;
    ConfigurationAndPreferencesService& configurationAndPreferencesService;
    bool greetingDecided = false;
    bool waitingForKeyring = false;
    // Lets the keyring's availability handler, which lives as long as the store, outlive the hub.
    std::shared_ptr<PresetersMainHub*> alive;
};
