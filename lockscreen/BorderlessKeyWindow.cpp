// The lock window's flags and colour, the centring of its central view, and the swallowing of
// input: keys and clicks that no child takes end here instead of reaching any other window.
#include "lockscreen/BorderlessKeyWindow.h"

#include <QEvent>
#include <QPalette>

QColor BorderlessKeyWindow::backgroundColor() {
    return QColor(65, 68, 75);
}

BorderlessKeyWindow::BorderlessKeyWindow(QWidget* parent, Qt::WindowFlags flags)
    : QWidget(parent, flags | Qt::Window | Qt::FramelessWindowHint |
                          Qt::X11BypassWindowManagerHint | Qt::WindowStaysOnTopHint) {
    QPalette colours = palette();
    colours.setColor(QPalette::Window, backgroundColor());
    setPalette(colours);
    setAutoFillBackground(true);
}

void BorderlessKeyWindow::setCenteredView(QWidget* view) {
    centeredView = view;
    centerView();
}

void BorderlessKeyWindow::centerView() {
    if (!centeredView)
        return;
    // Wrapped labels are as tall as the view's width needs.
    const int width = qMax(centeredView->sizeHint().width(), centeredView->minimumWidth());
    const int height = centeredView->hasHeightForWidth() ? centeredView->heightForWidth(width)
                                                         : centeredView->sizeHint().height();
    QRect frame(QPoint(0, 0), QSize(width, height).boundedTo(this->size()));
    frame.moveCenter(rect().center());
    centeredView->setGeometry(frame);
}

bool BorderlessKeyWindow::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::ShortcutOverride:  // no shortcut of the program fires while locked
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
            QWidget::event(event);
            event->accept();
            return true;
        default:
            return QWidget::event(event);
    }
}

void BorderlessKeyWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    centerView();
}
