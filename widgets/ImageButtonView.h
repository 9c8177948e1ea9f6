// An image that acts as a button: it reports mouse presses with its integer `id` and fades briefly
// when the pointer enters it. Forms use it as a promoted QLabel ("widgets/ImageButtonView.h").
#pragma once

#include <QIcon>
#include <QLabel>
#include <QPointer>
#include <QString>
#include <functional>

class QGraphicsOpacityEffect;
class QPropertyAnimation;

class ImageButtonView : public QLabel {
    Q_OBJECT
    // The named resource image drawn by the button, settable from a form ("AddButton").
    Q_PROPERTY(QString imageName READ imageName WRITE setImageName)
    // Decorative images in forms switch the fade off.
    Q_PROPERTY(bool animated MEMBER animated)

  public:
    explicit ImageButtonView(QWidget* parent = nullptr);

    // Stores the identifier and whether the pointer's entering fades the button.
    void initiate(int identifier, bool animate);

    // Fades to 0.3 opacity, then back to full opacity 0.2 s later.
    void startFadeAnimation();
    void stopFadeAnimation();

    const QString& imageName() const { return currentImageName; }
    // Shows the named resource image; an unknown name shows nothing.
    void setImageName(const QString& name);
    // Shows an image that has no resource name (an application's icon).
    void setImage(const QIcon& image);
    const QIcon& image() const { return currentImage; }
    // The opacity the button is drawn with now (1.0 when not faded).
    qreal opacity() const;

    int id = 0;
    bool animated = true;
    std::function<void(int)> onClick;

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void animateOpacityTo(qreal value, int milliseconds);

    QString currentImageName;
    QIcon currentImage;
    QPointer<QGraphicsOpacityEffect> opacityEffect;
    QPointer<QPropertyAnimation> fade;
};
