// Start-up in its order and the refusal of ordinary termination.
#include "app/AppDelegate.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>

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
}

void AppDelegate::startLockerCentralService() {
    lockerCentralService->start();
}
