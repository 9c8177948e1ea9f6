// Start-up in its order and the refusal of ordinary termination.
#include "app/AppDelegate.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QWidget>
#include <algorithm>

#include "lockscreen/GnomeShellLockWindow.h"
#include "platform/linux/GnomeShellLock.h"

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
    // Loads the configuration and registers for its changes.
    lockerCentralService = std::make_unique<ApplicationsLockerCentralService>();
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
    useShellLockWhereOffered();
}

// In GNOME on Wayland the Shell draws the lock, covers included, through our extension, whenever
// the extension answers; elsewhere, and while it does not, the lock is our own window.
void AppDelegate::useShellLockWhereOffered() {
    if (!platform::GnomeShellLock::sessionWantsShellLock())
        return;
    shellLock = std::make_unique<platform::GnomeShellLock>();
    const bool answered = shellLock->start();
    qInfo().noquote() << (answered ? "Lock: drawn by the GNOME Shell extension"
                                   : "Lock: the GNOME Shell extension does not answer; the lock "
                                     "is an ordinary window");
    platform::GnomeShellLock* shell = shellLock.get();
    ApplicationsLockerCentralService* service = lockerCentralService.get();
    service->makePasswordWindow =
        [shell,
         ownWindow = std::move(service->makePasswordWindow)]() -> std::unique_ptr<LockWindow> {
        if (shell->available())
            return std::make_unique<GnomeShellLockWindow>(*shell, ownWindow);
        return ownWindow();
    };
    service->makeExtraPasswordWindow =
        [shell, ownCover = std::move(service->makeExtraPasswordWindow)](
            const platform::Screen& screen) -> std::unique_ptr<QWidget> {
        return shell->available() ? nullptr : ownCover(screen);
    };
}

void AppDelegate::startLockerCentralService() {
    lockerCentralService->start();
}
