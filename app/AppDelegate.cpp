// Start-up in its order and the refusal of ordinary termination.
#include "app/AppDelegate.h"

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
    createLockerCentralService();
    startLockerCentralService();
}

void AppDelegate::createLockerCentralService() {
    // Loads the configuration and registers for its changes.
    lockerCentralService = std::make_unique<ApplicationsLockerCentralService>();
}

void AppDelegate::startLockerCentralService() {
    lockerCentralService->start();
}
