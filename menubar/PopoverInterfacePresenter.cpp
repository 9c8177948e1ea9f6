// The popover's owner. All of it runs on the main thread; the configuration's change handler
// refreshes the list whenever anybody changes the configuration.
#include "menubar/PopoverInterfacePresenter.h"

#include <QDBusConnection>
#include <cstdio>

#include "locking/SystemConfigurationService.h"
#include "menubar/PopoverRemoteControl.h"
#include "menubar/PopoverViewController.h"
#include "menubar/PopupSystem.h"
#include "menubar/RequestPasswordViewController.h"
#include "resources/NamedImage.h"
#include "storage/ConfigurationAndPreferencesService.h"
#include "windows/AlertMessagesService.h"

PopoverInterfacePresenter::PopoverInterfacePresenter()
    : PopoverInterfacePresenter(ConfigurationAndPreferencesService::sharedInstance()) {}

PopoverInterfacePresenter::PopoverInterfacePresenter(
    ConfigurationAndPreferencesService& configuration)
    : popoverViewController(std::make_unique<PopoverViewController>()),
      configurationAndPreferencesService(&configuration),
      self(std::make_shared<PopoverInterfacePresenter*>(this)) {
    registerLoginItem = [](bool enabled) {
        return SystemConfigurationService().startAtLogin(enabled);
    };
    loginItemRegistered = [] { return SystemConfigurationService().loginItemRegistered(); };
    observeLoginItem = [](std::function<void()> handler) {
        SystemConfigurationService().observeLoginItem(std::move(handler));
    };
    showAlert = [](const QString& title, const QString& message, int type) {
        AlertMessagesService().showAlert(title, message, type, nullptr);
    };
}

PopoverInterfacePresenter::~PopoverInterfacePresenter() = default;

void PopoverInterfacePresenter::startService() {
    popupSystem = std::make_unique<PopupSystem>(popoverViewController.get(),
                                                namedImage(QStringLiteral("AppMenuBarIconBlack")),
                                                namedImage(QStringLiteral("AppMenuBarIconWhite")));

    std::weak_ptr<PopoverInterfacePresenter*> weakSelf = self;
    configurationAndPreferencesService->addOnConfigurationChangeEvent([weakSelf] {
        if (auto presenter = weakSelf.lock()) {
            (*presenter)
                ->popoverViewController->refreshLockedApplicationsAndInterface(
                    (*presenter)->configurationAndPreferencesService->getLockedApplications());
        }
    });

    popupSystem->onWillShowPopover = [this] {
        // A keyring that does not answer is never taken for one without a password: the page
        // asks for the password (which cannot open it until the keyring answers) and says why.
        using Answer = ConfigurationAndPreferencesService::PasswordAnswer;
        const Answer answer = configurationAndPreferencesService->passwordAnswer();
        popoverViewController->state = answer == Answer::none ? PopoverViewState::noPassword
                                                              : PopoverViewState::requestPassword;
        popoverViewController->requestPageNotice =
            answer == Answer::unavailable ? KEYRING_UNAVAILABLE_NOTICE : QString();
    };

    PopoverViewController& popover = *popoverViewController;
    popover.onPasswordEntered = [this](const QString& password) { passwordEntered(password); };
    popover.onAddApplicationsRequest = onAddApplicationsRequest;
    popover.onRemoveApplicationRequest = [this](const ApplicationEntity& entity) {
        removeApplicationRequest(entity);
    };
    popover.onIsActiveConfigurationChanged = [this](bool on) { isActiveConfigurationChanged(on); };
    popover.onStartAtLoginConfigurationChanged = [this](bool on) {
        startAtLoginConfigurationChanged(on);
    };
    popover.onQuitRequest = onQuitRequest;
    popover.onChangePreferencesRequest = onChangePreferencesRequest;
    popover.onHelpRequest = onHelpRequest;

    // The switch shows what is registered, after the entry was made true again if need be.
    popover.initiateData(configurationAndPreferencesService->getApplicationIsActive(),
                         keepLoginItem(),
                         configurationAndPreferencesService->getLockedApplications());
    if (observeLoginItem) {
        observeLoginItem([weakSelf] {
            if (auto presenter = weakSelf.lock()) {
                (*presenter)
                    ->popoverViewController->showStartAtLogin((*presenter)->keepLoginItem());
            }
        });
    }

    // Without a tray the popover is reached through a second launch, which calls this object.
    remoteControl = std::make_unique<PopoverRemoteControl>();
    remoteControl->onShowRequest = [this] { showService(); };
    remoteControl->registerOn(QDBusConnection::sessionBus());
}

void PopoverInterfacePresenter::showService() {
    if (popupSystem)
        popupSystem->showPopover();
}

void PopoverInterfacePresenter::hideService() {
    if (popupSystem)
        popupSystem->hidePopover();
}

void PopoverInterfacePresenter::passwordEntered(const QString& password) {
    const QString stored = configurationAndPreferencesService->getApplicationPassword();
    // An empty stored password means none is set: nothing typed may open the page then.
    if (!stored.isEmpty() && canonicallyEqual(password, stored)) {
        popoverViewController->state = PopoverViewState::running;
        popoverViewController->showMainPage();
    } else {
        popoverViewController->wrongPassword();
    }
}

void PopoverInterfacePresenter::removeApplicationRequest(const ApplicationEntity& entity) {
    std::printf("removeApplicationRequest: %s\n", qPrintable(entity.name));
    std::fflush(stdout);
    configurationAndPreferencesService->removeLockedApplicationBundleId(entity.bundleIdentifier);
}

void PopoverInterfacePresenter::isActiveConfigurationChanged(bool active) {
    std::printf("isActiveConfigurationChanged\n");
    std::fflush(stdout);
    configurationAndPreferencesService->setApplicationIsActive(active);
}

// While start at login is on, a login item that was removed, hidden or pointed elsewhere is
// registered again. Answers whether it is registered now.
bool PopoverInterfacePresenter::keepLoginItem() {
    const bool registered = loginItemRegistered && loginItemRegistered();
    if (registered || !configurationAndPreferencesService->getStartAtLogin())
        return registered;
    std::printf("Start at login: the login item no longer starts Corvane; registering it again\n");
    std::fflush(stdout);
    return registerLoginItem && registerLoginItem(true);
}

void PopoverInterfacePresenter::startAtLoginConfigurationChanged(bool startAtLogin) {
    std::printf("startAtLoginConfigurationChanged\n");
    std::fflush(stdout);
    if (registerLoginItem && registerLoginItem(startAtLogin)) {
        configurationAndPreferencesService->setStartAtLogin(startAtLogin);
        return;
    }
    if (showAlert)
        showAlert(LOGIN_ITEM_ERROR_TITLE, LOGIN_ITEM_ERROR_MESSAGE, AlertMessagesService::CRITICAL);
}
