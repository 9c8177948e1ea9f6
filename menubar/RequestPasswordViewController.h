// The popover's cover page that asks for the password before the main page is shown. Return in
// the field (or the Unlock button) submits the text; a wrong password shakes the central group.
#pragma once

#include <QPoint>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

#include "widgets/GrayGradientView.h"

class QLineEdit;
class QPushButton;
#include <QSequentialAnimationGroup>
namespace Ui {
class RequestPasswordView;
}

class RequestPasswordViewController : public GrayGradientView {
    Q_OBJECT

  public:
    explicit RequestPasswordViewController(QWidget* parent = nullptr);
    ~RequestPasswordViewController() override;

    // Shakes the central group 20 px down and back, twice, from where it stands.
    void wrongPassword();
    // Shows the text under the title instead of the form's request; the empty text restores it.
    void showNotice(const QString& text);
    QString noticeText() const;
    void passwordEnterButtonClick();
    void helpButtonClick();

    // Posts the field's focusing to the main queue; clears the field on leaving.
    void viewWillAppear();
    void viewDidDisappear();

    QPushButton* passwordEnterButton() const;
    QPushButton* helpButton() const;
    // The running shake, or null when none runs.
    QSequentialAnimationGroup* shakeAnimation() const { return shake; }

    QLineEdit* passwordTextFieldOutlet = nullptr;
    QWidget* centralViewOutlet = nullptr;
    std::function<void()> onHelpRequest;
    std::function<void(const QString&)> onPasswordEntered;

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void submit();

    std::unique_ptr<Ui::RequestPasswordView> ui;
    QPointer<QSequentialAnimationGroup> shake;
    QPoint shakeRestPosition;
    QString requestText;  // the form's own message
};
