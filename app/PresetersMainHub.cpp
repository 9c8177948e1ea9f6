// The wiring between the popover, the greeting and the windows, and the hub's steps of start-up.
#include "app/PresetersMainHub.h"

#include <QWidget>
#include <algorithm>

#include "app/SafeQuitService.h"

PresetersMainHub::PresetersMainHub(ConfigurationAndPreferencesService& configuration)
    : popoverPresenter(std::make_unique<PopoverInterfacePresenter>(configuration)),
      configurationAndPreferencesService(configuration),
      alive(std::make_shared<PresetersMainHub*>(this)) {
    quitApplication = [] { SafeQuitService().quitApplication(); };
}

PresetersMainHub::~PresetersMainHub() = default;

void PresetersMainHub::present() {
    setupPopoverCallbacks();
    presentGreetingsIfNeeded();
    popoverPresenter->startService();
}

bool PresetersMainHub::hasProcessSerialNumberArgument(const QStringList& launchArguments) {
    return std::any_of(launchArguments.begin(), launchArguments.end(),
                       [](const QString& argument) { return argument.startsWith("-psn_"); });
}

void PresetersMainHub::finishLaunching(const QStringList& launchArguments) {
    if (!hasProcessSerialNumberArgument(launchArguments))
        showPopover();
}

void PresetersMainHub::showPopover() {
    popoverPresenter->showService();
}

void PresetersMainHub::setupPopoverCallbacks() {
    // Set before the popover presenter starts: it hands them on to its page as they are then.
    popoverPresenter->onAddApplicationsRequest = [this] { showApplicationsSelection(); };
    popoverPresenter->onChangePreferencesRequest = [this] { showPreferences(); };
    popoverPresenter->onHelpRequest = [this] { showHelp(); };
    popoverPresenter->onQuitRequest = [this] {
        if (quitApplication)
            quitApplication();
    };
}

void PresetersMainHub::presentGreetingsIfNeeded() {
    if (greetingDecided)
        return;
    const auto answer = configurationAndPreferencesService.passwordAnswer();
    if (answer == ConfigurationAndPreferencesService::PasswordAnswer::unavailable) {
        // Asked again each time the keyring may answer; registered once.
        if (!waitingForKeyring) {
            waitingForKeyring = true;
            std::weak_ptr<PresetersMainHub*> self = alive;
            configurationAndPreferencesService.addOnKeyringAvailabilityEvent([self] {
                if (const auto hub = self.lock())
                    (*hub)->presentGreetingsIfNeeded();
            });
        }
        return;
    }
    greetingDecided = true;
    if (answer == ConfigurationAndPreferencesService::PasswordAnswer::stored)
        return;
    greetingsPresenter = std::make_unique<GreetingsWindowPresenter>();
    greetingsPresenter->onSetupPasswordRequest = [this] { showPreferences(); };
    greetingsPresenter->onHelpRequest = [this] { showHelp(); };
    greetingsPresenter->present();
}

void PresetersMainHub::showPreferences() {
    if (greetingsPresenter && greetingsPresenter->greetingsWindowController().hasWindow())
        greetingsPresenter->greetingsWindowController().closeServiceWindow();
    popoverPresenter->hideService();
    if (preferencesPresenter) {
        preferencesPresenter->preferencesWindowController().focus();
        return;
    }
    preferencesPresenter =
        std::make_unique<PreferencesWindowPresenter>(configurationAndPreferencesService);
    preferencesPresenter->onConfirmNewPassword = [this] { showPopover(); };
    preferencesPresenter->present();
}

void PresetersMainHub::showHelp() {
    popoverPresenter->hideService();
    if (helpPresenter) {
        helpPresenter->helpWindowController().focus();
        return;
    }
    helpPresenter = std::make_unique<HelpWindowPresenter>();
    helpPresenter->present();
}

void PresetersMainHub::showApplicationsSelection() {
    popoverPresenter->hideService();
    if (selectApplicationsPresenter) {
        selectApplicationsPresenter->focus();
        return;
    }
    selectApplicationsPresenter =
        std::make_unique<SelectApplicationsWindowPresenter>(configurationAndPreferencesService);
    selectApplicationsPresenter->startService();
}
