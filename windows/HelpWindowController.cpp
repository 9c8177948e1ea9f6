// Loads the help window, styles it and shows the bundle's help page, or a short explanation when
// the page is missing from the installation.
#include "windows/HelpWindowController.h"

#include <QFileInfo>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>

#include "platform/Guard.h"
#include "platform/MainBundle.h"
#include "ui_HelpWindow.h"
#include "windows/WindowAppearance.h"

namespace {
const char* const MISSING_PAGE = R"(
<h2>The help page is missing</h2>
<p>Vaultine could not find its help page (Help.html in the Resources folder of Vaultine.app).
The installation may be incomplete: installing Vaultine again restores it.</p>
<p>You can still reach support with the button below, or by writing to
<a href="mailto:support@vaultine.org?Subject=Vaultine%20Support">support@vaultine.org</a>.</p>
)";

// The page is read on the window's surface (RGB 94, 97, 106): white text, light links.
const char* const BROWSER_STYLE = R"(
QTextBrowser { background: transparent; color: white; border: none; padding: 8px 18px; }
)";
}  // namespace

HelpWindowController::HelpWindowController() = default;
HelpWindowController::~HelpWindowController() = default;

QString HelpWindowController::helpPagePath() {
    return platform::MainBundle::shared().bundlePath() +
           QStringLiteral("/Contents/Resources/Help.html");
}

QWidget* HelpWindowController::window() {
    if (!loadedWindow) {
        loadedWindow = std::make_unique<QWidget>();
        form = std::make_unique<Ui::HelpWindow>();
        form->setupUi(loadedWindow.get());
        windowDidLoad();
        WindowAppearance::centerOnScreen(loadedWindow.get());
    }
    return loadedWindow.get();
}

void HelpWindowController::windowDidLoad() {
    webviewOutlet = form->webviewOutlet;
    QWidget* panel = loadedWindow.get();
    WindowAppearance::keepAboveOtherWindows(panel);
    WindowAppearance::applyPanelLook(panel);
    // The help window is one flat surface rather than the gradient of the other windows.
    panel->setStyleSheet(
        panel->styleSheet() +
        QStringLiteral("QWidget#%1 { background: rgb(94, 97, 106); }").arg(panel->objectName()) +
        QString::fromLatin1(BROWSER_STYLE));
    WindowAppearance::makeMovableByBackground(panel);
    WindowAppearance::applyDividerLook(form->lineViewOutlet);
    QObject::connect(form->contactSupportButton, &QPushButton::clicked, panel,
                     [this] { contactSupportButtonClick(); });
    loadHelpPage();
}

void HelpWindowController::showProtectionLevel() {
    if (form)
        form->protectionLabel->setText(
            platform::Guard::protectionSummary(platform::Guard::shared().protecting()));
}

void HelpWindowController::loadHelpPage() {
    const QString path = helpPagePath();
    const QFileInfo page(path);
    if (!page.isFile() || !page.isReadable()) {
        webviewOutlet->setHtml(QString::fromLatin1(MISSING_PAGE));
        return;
    }
    // Through its URL, so that the page's own anchors resolve within it.
    webviewOutlet->setSource(QUrl::fromLocalFile(path));
}

void HelpWindowController::showWindowService() {
    QWidget* panel = window();
    showProtectionLevel();
    panel->show();
    panel->raise();
    panel->activateWindow();
}

void HelpWindowController::focus() {
    showWindowService();
}

void HelpWindowController::contactSupportButtonClick() {
    if (onContactSupport)
        onContactSupport();
}
