// The help window: the help page of the bundle's resources in a text browser, whose links open
// outside, and a button to contact support.
#pragma once

#include <QString>
#include <functional>
#include <memory>

class QTextBrowser;
class QWidget;
namespace Ui {
class HelpWindow;
}

class HelpWindowController {
  public:
    HelpWindowController();
    ~HelpWindowController();

    // The page: Contents/Resources/Help.html of the main bundle.
    static QString helpPagePath();

    // The window; the first access loads the layout "HelpWindow" and runs windowDidLoad.
    QWidget* window();
    // Makes the window active and brings it to the front.
    void showWindowService();
    void focus();
    void contactSupportButtonClick();

    std::function<void()> onContactSupport;

    QTextBrowser* webviewOutlet = nullptr;

  private:
    void windowDidLoad();
    void loadHelpPage();
    // Which protection is in force: the system guard's, or Vaultine's alone.
    void showProtectionLevel();

    std::unique_ptr<QWidget> loadedWindow;
    std::unique_ptr<Ui::HelpWindow> form;
};
