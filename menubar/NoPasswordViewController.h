// The popover's cover page while no password is stored: it offers to set one up and to open the
// help. It reports both buttons through callbacks and knows nothing else.
#pragma once

#include <functional>
#include <memory>

#include "widgets/GrayGradientView.h"

class QPushButton;
namespace Ui {
class NoPasswordView;
}

class NoPasswordViewController : public GrayGradientView {
    Q_OBJECT

  public:
    explicit NoPasswordViewController(QWidget* parent = nullptr);
    ~NoPasswordViewController() override;

    void setupPasswordButtonClick();
    void helpButtonClick();

    QPushButton* setupPasswordButton() const;
    QPushButton* helpButton() const;

    std::function<void()> onHelpRequest;
    std::function<void()> onPasswordSetupRequest;

  private:
    std::unique_ptr<Ui::NoPasswordView> ui;
};
