// The first-run greeting: a welcome text and the buttons to set up the password, open the help or
// quit. It reports the first two through callbacks; quit ends the process.
#pragma once

#include <functional>
#include <memory>

class QWidget;
namespace Ui {
class GreetingsWindow;
}

class GreetingsWindowController {
  public:
    GreetingsWindowController();
    ~GreetingsWindowController();

    // The window; the first access loads the layout "GreetingsWindow" and runs windowDidLoad.
    QWidget* window();
    // Whether the window has been loaded (the hub closes only a window that exists).
    bool hasWindow() const { return loadedWindow != nullptr; }
    void showServiceWindow();
    void closeServiceWindow();

    void setupPasswordButtonClick();
    void helpButtonClick();
    // Ends the process at once with status 0, without the quit path that also ends Corvane.
    void quitButtonClick();

    std::function<void()> onSetupPasswordRequest;
    std::function<void()> onHelpRequest;
    // How the process ends; tests replace it.
    std::function<void(int status)> exitProcess;

    QWidget* lineViewOutlet = nullptr;

  private:
    void windowDidLoad();

    std::unique_ptr<QWidget> loadedWindow;
    std::unique_ptr<Ui::GreetingsWindow> form;
};
