// Loads and styles the greeting and turns its three buttons into the controller's actions.
#include "windows/GreetingsWindowController.h"

#include <QPushButton>
#include <cstdio>
#include <cstdlib>

#include "resources/NamedImage.h"
#include "ui_GreetingsWindow.h"
#include "windows/WindowAppearance.h"

namespace {
// Output is flushed first so that nothing written so far is lost; no destructors run, as with
// any immediate end of the process.
void endProcessNow(int status) {
    std::fflush(nullptr);
    std::_Exit(status);
}
}  // namespace

GreetingsWindowController::GreetingsWindowController() : exitProcess(endProcessNow) {}
GreetingsWindowController::~GreetingsWindowController() = default;

QWidget* GreetingsWindowController::window() {
    if (!loadedWindow) {
        loadedWindow = std::make_unique<QWidget>();
        form = std::make_unique<Ui::GreetingsWindow>();
        form->setupUi(loadedWindow.get());
        windowDidLoad();
        WindowAppearance::centerOnScreen(loadedWindow.get());
    }
    return loadedWindow.get();
}

void GreetingsWindowController::windowDidLoad() {
    lineViewOutlet = form->lineViewOutlet;
    QWidget* panel = loadedWindow.get();
    WindowAppearance::keepAboveOtherWindows(panel);
    WindowAppearance::applyPanelLook(panel);
    WindowAppearance::makeMovableByBackground(panel);
    WindowAppearance::applyDividerLook(lineViewOutlet);
    form->iconLabel->setPixmap(namedImage(QStringLiteral("VaultineIcon")).pixmap(80, 80));

    QObject::connect(form->setupPasswordButton, &QPushButton::clicked, panel,
                     [this] { setupPasswordButtonClick(); });
    QObject::connect(form->helpButton, &QPushButton::clicked, panel, [this] { helpButtonClick(); });
    QObject::connect(form->quitButton, &QPushButton::clicked, panel, [this] { quitButtonClick(); });
    form->setupPasswordButton->setFocus(Qt::OtherFocusReason);
}

void GreetingsWindowController::showServiceWindow() {
    QWidget* panel = window();
    panel->show();
    panel->raise();
    panel->activateWindow();
}

void GreetingsWindowController::closeServiceWindow() {
    if (loadedWindow)
        loadedWindow->close();
}

void GreetingsWindowController::setupPasswordButtonClick() {
    if (onSetupPasswordRequest)
        onSetupPasswordRequest();
}

void GreetingsWindowController::helpButtonClick() {
    if (onHelpRequest)
        onHelpRequest();
}

void GreetingsWindowController::quitButtonClick() {
    if (exitProcess)
        exitProcess(0);
}
