// The image button of the popover and the selection window: press reports `id`, entering fades.
// The fade runs on a QGraphicsOpacityEffect so that it works inside any layout or scroll area.
#include "widgets/ImageButtonView.h"

#include <QGraphicsOpacityEffect>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QTimer>

#include "resources/NamedImage.h"

namespace {
constexpr qreal fadedOpacity = 0.3;
constexpr int fadeInMilliseconds = 100;
constexpr int fadeHoldMilliseconds = 200;
constexpr int fadeOutMilliseconds = 200;
}  // namespace

ImageButtonView::ImageButtonView(QWidget* parent) : QLabel(parent) {
    setCursor(Qt::ArrowCursor);
    setAlignment(Qt::AlignCenter);
    // The effect stays disabled while the button is opaque so that it costs nothing at rest.
    opacityEffect = new QGraphicsOpacityEffect(this);
    opacityEffect->setOpacity(1.0);
    opacityEffect->setEnabled(false);
    setGraphicsEffect(opacityEffect);
}

void ImageButtonView::initiate(int identifier, bool animate) {
    id = identifier;
    animated = animate;
}

void ImageButtonView::setImageName(const QString& name) {
    currentImageName = name;
    currentImage = namedImage(name);
    update();
}

void ImageButtonView::setImage(const QIcon& image) {
    currentImageName.clear();
    currentImage = image;
    update();
}

qreal ImageButtonView::opacity() const {
    return opacityEffect && opacityEffect->isEnabled() ? opacityEffect->opacity() : 1.0;
}

void ImageButtonView::startFadeAnimation() {
    animateOpacityTo(fadedOpacity, fadeInMilliseconds);
    QTimer::singleShot(fadeHoldMilliseconds, this, &ImageButtonView::stopFadeAnimation);
}

void ImageButtonView::stopFadeAnimation() {
    animateOpacityTo(1.0, fadeOutMilliseconds);
}

void ImageButtonView::animateOpacityTo(qreal value, int milliseconds) {
    if (!opacityEffect)
        return;
    if (fade)
        fade->stop();
    opacityEffect->setEnabled(true);
    fade = new QPropertyAnimation(opacityEffect, "opacity", this);
    fade->setDuration(milliseconds);
    fade->setStartValue(opacityEffect->opacity());
    fade->setEndValue(value);
    fade->setEasingCurve(QEasingCurve::InOutQuad);
    if (value >= 1.0) {
        QPointer<QGraphicsOpacityEffect> effect = opacityEffect;
        connect(fade, &QPropertyAnimation::finished, this, [effect] {
            if (effect && effect->opacity() >= 1.0)
                effect->setEnabled(false);
        });
    }
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void ImageButtonView::mousePressEvent(QMouseEvent* event) {
    // The press is the click; it is not handed on, so a row or window beneath never sees it.
    event->accept();
    if (onClick)
        onClick(id);
}

void ImageButtonView::enterEvent(QEnterEvent* event) {
    if (animated)
        startFadeAnimation();
    setCursor(Qt::ArrowCursor);
    QLabel::enterEvent(event);
}

void ImageButtonView::paintEvent(QPaintEvent* event) {
    if (currentImage.isNull()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    currentImage.paint(&painter, contentsRect(), alignment());
}
