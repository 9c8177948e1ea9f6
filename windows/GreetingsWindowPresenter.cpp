// Presents the greeting window with the owner's callbacks.
#include "windows/GreetingsWindowPresenter.h"

GreetingsWindowPresenter::GreetingsWindowPresenter()
    : windowController(std::make_unique<GreetingsWindowController>()) {}

void GreetingsWindowPresenter::present() {
    windowController->showServiceWindow();
    windowController->onSetupPasswordRequest = onSetupPasswordRequest;
    windowController->onHelpRequest = onHelpRequest;
}

void GreetingsWindowPresenter::stopService() {
    windowController->closeServiceWindow();
}
