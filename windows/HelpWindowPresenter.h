// Owns the help window and opens the support mail link when the user asks for support.
#pragma once

#include <QString>
#include <memory>

#include "windows/HelpWindowController.h"

class HelpWindowPresenter {
  public:
    static inline const QString SUPPORT_MAIL_LINK =
        QStringLiteral("mailto:support@vaultine.org?Subject=Vaultine%20Support");

    HelpWindowPresenter();

    // Wires the contact button and shows the window.
    void present();
    void focus();
    // Opens a new message to support in the user's mail program; without one nothing happens.
    void contactSupport();

    HelpWindowController& helpWindowController() { return *windowController; }

  private:
    std::unique_ptr<HelpWindowController> windowController;
};
