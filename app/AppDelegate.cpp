// Start-up in its order and the refusal of ordinary termination.
#include "app/AppDelegate.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QWidget>
#include <algorithm>

#include "lockscreen/LockScreen.h"
#include "platform/WindowSystem.h"
#include "storage/ConfigurationAndPreferencesService.h"

AppDelegate::AppDelegate() = default;

AppDelegate::~AppDelegate() = default;

void AppDelegate::attach(QGuiApplication& application) {
    application.setQuitOnLastWindowClosed(applicationShouldTerminateAfterLastWindowClosed());
    application.installEventFilter(this);
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    // A quit request to the application object (a Quit command, QCoreApplication::quit) is
    // answered with the cancel reply: the event is swallowed.
    if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit)
        return !applicationShouldTerminate();
    return QObject::eventFilter(watched, event);
}

void AppDelegate::applicationDidFinishLaunching() {
    presentHub();
    createLockerCentralService();
    startLockerCentralService();
    finishHubLaunch();
}

void AppDelegate::presentHub() {
    // The popover's requests are wired, a user without a password is greeted and the status item
    // is put into the tray before protection starts.
    mainHub = std::make_unique<PresetersMainHub>();
    mainHub->present();
}

void AppDelegate::finishHubLaunch() {
    mainHub->finishLaunching(QCoreApplication::arguments());
}

void AppDelegate::createLockerCentralService() {
    // Loads the configuration and registers for its changes. The lock's backend is the session's,
    // chosen once.
    lockerCentralService = std::make_unique<ApplicationsLockerCentralService>(
        ConfigurationAndPreferencesService::sharedInstance(),
        chooseLockScreen(platform::sessionLockTier()));
    // The runs of locked applications have their ends followed at once, so that a lock whose
    // application is gone comes down promptly; the others' at the workspace's next look.
    ApplicationsLockerCentralService* service = lockerCentralService.get();
    service->applicationsMonitorService().needsPromptEndReport =
        [service](const ApplicationEntity& entity) {
            const QStringList identifiers = entity.identifiers();
            return std::any_of(service->MONITORED_APPS.begin(), service->MONITORED_APPS.end(),
                               [&identifiers](const ApplicationEntity& locked) {
                                   return identifiers.contains(locked.bundleIdentifier);
                               });
        };
}

void AppDelegate::startLockerCentralService() {
    lockerCentralService->start();
}
