// Paints the fixed dark grey gradient over the whole widget, then lets the children draw on it.
// The colours are fixed on purpose: the surfaces look the same under every desktop theme.
#include "widgets/GrayGradientView.h"

#include <QLinearGradient>
#include <QPainter>

GrayGradientView::GrayGradientView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void GrayGradientView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QLinearGradient gradient(0, height(), 0, 0);
    gradient.setColorAt(0.0, bottomColor);
    gradient.setColorAt(1.0, topColor);
    painter.fillRect(rect(), gradient);
}
