// Loads the "NoPasswordView" form and turns its two button clicks into the page's callbacks.
#include "menubar/NoPasswordViewController.h"

#include "ui_NoPasswordView.h"

NoPasswordViewController::NoPasswordViewController(QWidget* parent)
    : GrayGradientView(parent), ui(std::make_unique<Ui::NoPasswordView>()) {
    ui->setupUi(this);
    connect(ui->setupPasswordButton, &QPushButton::clicked, this,
            &NoPasswordViewController::setupPasswordButtonClick);
    connect(ui->helpButton, &QPushButton::clicked, this,
            &NoPasswordViewController::helpButtonClick);
}

NoPasswordViewController::~NoPasswordViewController() = default;

void NoPasswordViewController::setupPasswordButtonClick() {
    if (onPasswordSetupRequest)
        onPasswordSetupRequest();
}

void NoPasswordViewController::helpButtonClick() {
    if (onHelpRequest)
        onHelpRequest();
}

QPushButton* NoPasswordViewController::setupPasswordButton() const {
    return ui->setupPasswordButton;
}

QPushButton* NoPasswordViewController::helpButton() const {
    return ui->helpButton;
}
