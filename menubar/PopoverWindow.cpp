// The popover's window. Qt::Popup gives the closing by a click anywhere else and the keyboard
// grab that lets the password field take input without the window manager's help; a shape mask
// rounds the corners without needing a compositor.
#include "menubar/PopoverWindow.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QHideEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

PopoverWindow::PopoverWindow() : QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("PopoverWindow"));
    setWindowTitle(QStringLiteral("Vaultine"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    // The content's size and no other: a compositor that places windows itself (Wayland) keeps a
    // window of one fixed size floating at that size instead of tiling it.
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void PopoverWindow::setContent(QWidget* content) {
    if (!content)
        return;
    layout()->addWidget(content);
    adjustSize();
}

QPoint PopoverWindow::positionFor(const QRect& anchor, QSize size, const QRect& available) {
    const bool anchorInTopHalf = anchor.center().y() < available.center().y();
    int x = anchor.center().x() - size.width() / 2;
    int y = anchorInTopHalf ? anchor.bottom() + 1 + ANCHOR_GAP
                            : anchor.top() - ANCHOR_GAP - size.height();
    x = std::clamp(x, available.left(),
                   std::max(available.left(), available.right() + 1 - size.width()));
    y = std::clamp(y, available.top(),
                   std::max(available.top(), available.bottom() + 1 - size.height()));
    return {x, y};
}

void PopoverWindow::placeAgainst(const QRect& anchor) {
    QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    move(positionFor(anchor, size(), screen->availableGeometry()));
}

void PopoverWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (onHidden)
        onHidden();
}

void PopoverWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    QBitmap mask(size());
    mask.fill(Qt::color0);
    QPainter painter(&mask);
    painter.setBrush(Qt::color1);
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(rect(), CORNER_RADIUS, CORNER_RADIUS);
    painter.end();
    setMask(mask);
}
