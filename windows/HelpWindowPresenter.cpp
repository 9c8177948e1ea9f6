// Presents the help window and hands the support mail link to the desktop.
#include "windows/HelpWindowPresenter.h"

#include <QDesktopServices>
#include <QUrl>

HelpWindowPresenter::HelpWindowPresenter()
    : windowController(std::make_unique<HelpWindowController>()) {}

void HelpWindowPresenter::present() {
    windowController->onContactSupport = [this] { contactSupport(); };
    windowController->showWindowService();
}

void HelpWindowPresenter::focus() {
    windowController->focus();
}

void HelpWindowPresenter::contactSupport() {
    // Whether a mail program took the link is not looked at: there is nothing useful to show.
    QDesktopServices::openUrl(QUrl(SUPPORT_MAIL_LINK));
}
