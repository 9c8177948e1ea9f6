// Owns the first-run greeting and hands the owner's callbacks on to its window when presenting.
#pragma once

#include <functional>
#include <memory>

#include "windows/GreetingsWindowController.h"

class GreetingsWindowPresenter {
  public:
    GreetingsWindowPresenter();

    // Shows the window and copies the callbacks into it: set them before calling present.
    void present();
    void stopService();

    GreetingsWindowController& greetingsWindowController() { return *windowController; }

    std::function<void()> onSetupPasswordRequest;
    std::function<void()> onHelpRequest;

  private:
    std::unique_ptr<GreetingsWindowController> windowController;
};
