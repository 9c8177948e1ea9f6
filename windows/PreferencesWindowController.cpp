// Loads the password window, styles it and turns its buttons and the Return key of the
// confirmation field into the controller's callbacks.
#include "windows/PreferencesWindowController.h"

#include <QLineEdit>
#include <QPushButton>

#include "ui_PreferencesWindow.h"
#include "windows/AlertMessagesService.h"
#include "windows/WindowAppearance.h"

PreferencesWindowController::PreferencesWindowController() = default;
PreferencesWindowController::~PreferencesWindowController() = default;

QWidget* PreferencesWindowController::window() {
    if (!loadedWindow) {
        loadedWindow = std::make_unique<QWidget>();
        form = std::make_unique<Ui::PreferencesWindow>();
        form->setupUi(loadedWindow.get());
        windowDidLoad();
        WindowAppearance::centerOnScreen(loadedWindow.get());
    }
    return loadedWindow.get();
}

void PreferencesWindowController::windowDidLoad() {
    lineViewOutlet = form->lineViewOutlet;
    passwordTextFieldOutlet = form->passwordTextFieldOutlet;
    confirmPasswordTextFieldOutlet = form->confirmPasswordTextFieldOutlet;

    QWidget* panel = loadedWindow.get();
    WindowAppearance::keepAboveOtherWindows(panel);
    WindowAppearance::applyPanelLook(panel);
    WindowAppearance::makeMovableByBackground(panel);
    WindowAppearance::applyDividerLook(lineViewOutlet);

    // Only Return in the confirmation field submits; leaving it by Tab or a click does not
    // (editingFinished would fire for those too, so returnPressed is the signal to use).
    QObject::connect(confirmPasswordTextFieldOutlet, &QLineEdit::returnPressed, panel,
                     [this] { confirmButtonClick(); });
    // Return in the first field only moves on to the confirmation.
    QObject::connect(passwordTextFieldOutlet, &QLineEdit::returnPressed, panel,
                     [this] { confirmPasswordTextFieldOutlet->setFocus(Qt::OtherFocusReason); });
    QObject::connect(form->cancelButton, &QPushButton::clicked, panel,
                     [this] { cancelButtonClick(); });
    QObject::connect(form->confirmButton, &QPushButton::clicked, panel,
                     [this] { confirmButtonClick(); });
}

void PreferencesWindowController::showServiceWindow() {
    QWidget* panel = window();
    panel->show();
    panel->raise();
    panel->activateWindow();
}

void PreferencesWindowController::closeServiceWindow() {
    if (loadedWindow)
        loadedWindow->close();
}

void PreferencesWindowController::focus() {
    window();
    passwordTextFieldOutlet->clear();
    confirmPasswordTextFieldOutlet->clear();
    showServiceWindow();
    passwordTextFieldOutlet->setFocus(Qt::OtherFocusReason);
}

void PreferencesWindowController::showErrorMessage(const QString& message) {
    AlertMessagesService().showAlert(QStringLiteral("There was an error.."), message,
                                     AlertMessagesService::CRITICAL, window());
}

void PreferencesWindowController::cancelButtonClick() {
    if (onCancel)
        onCancel();
}

void PreferencesWindowController::confirmButtonClick() {
    window();
    if (onPasswordEntered)
        onPasswordEntered(passwordTextFieldOutlet->text(), confirmPasswordTextFieldOutlet->text());
}
