// Vaultine's application delegate: builds the long-lived objects at launch, runs the start-up
// steps in order and refuses every ordinary request to end the program.
#pragma once

#include <QObject>
#include <memory>

#include "app/PresetersMainHub.h"
#include "locking/ApplicationsLockerCentralService.h"

class QGuiApplication;

class AppDelegate : public QObject {
    Q_OBJECT

  public:
    AppDelegate();
    ~AppDelegate() override;

    // Makes the application object ask us before it ends: closing the last window does not end
    // it, and quit requests are refused.
    void attach(QGuiApplication& application);

    // The start-up sequence, run once the main loop turns.
    void applicationDidFinishLaunching();
    // Always the cancel reply: only SafeQuitService ends Vaultine.
    bool applicationShouldTerminate() const { return false; }
    bool applicationShouldTerminateAfterLastWindowClosed() const { return false; }

    ApplicationsLockerCentralService* applicationsLockerCentralService() const {
        return lockerCentralService.get();
    }
    PresetersMainHub* presetersMainHub() const { return mainHub.get(); }

    // Swallows quit requests sent to the application object.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void presentHub();
    void createLockerCentralService();
    void startLockerCentralService();
    void finishHubLaunch();

    std::unique_ptr<ApplicationsLockerCentralService> lockerCentralService;
    std::unique_ptr<PresetersMainHub> mainHub;
};
