// Style sheets of the dark panels, the stay-on-top window flags and the background drag.
#include "windows/WindowAppearance.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QCursor>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace {

const char* const PANEL_STYLE = R"(
QWidget#%1 {
    background: qlineargradient(x1:0, y1:0, x2:0, y2:1,
                                stop:0 rgb(94, 97, 106), stop:1 rgb(42, 43, 47));
}
QLabel { color: white; background: transparent; }
QLabel[role="title"] { font-size: 17px; font-weight: 600; }
QLabel[role="secondary"] { color: rgba(255, 255, 255, 0.72); }
QLineEdit {
    color: white; background: rgba(0, 0, 0, 0.28); selection-background-color: rgb(74, 144, 226);
    border: 1px solid rgba(255, 255, 255, 0.22); border-radius: 5px; padding: 5px 8px;
}
QLineEdit:focus { border: 1px solid rgb(106, 164, 236); }
QPushButton {
    color: white; background: rgba(255, 255, 255, 0.12);
    border: 1px solid rgba(255, 255, 255, 0.25); border-radius: 5px; padding: 6px 16px;
    min-width: 72px;
}
QPushButton:hover { background: rgba(255, 255, 255, 0.2); }
QPushButton:pressed { background: rgba(255, 255, 255, 0.06); }
QPushButton:focus { border: 1px solid rgb(106, 164, 236); }
QPushButton[primary="true"] { background: rgb(58, 124, 209); border: 1px solid rgb(88, 150, 230); }
QPushButton[primary="true"]:hover { background: rgb(70, 138, 222); }
QPushButton[primary="true"]:pressed { background: rgb(46, 106, 184); }
QToolButton[role="help"] {
    color: white; background: rgba(255, 255, 255, 0.14); font-weight: 600;
    border: 1px solid rgba(255, 255, 255, 0.3); border-radius: 10px;
    min-width: 18px; max-width: 18px; min-height: 18px; max-height: 18px;
}
QToolButton[role="help"]:hover { background: rgba(255, 255, 255, 0.26); }
QScrollBar:vertical { background: transparent; width: 10px; }
QScrollBar::handle:vertical { background: rgba(255, 255, 255, 0.25); border-radius: 4px;
                              min-height: 24px; }
QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }
QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }
)";

const char* const ALERT_STYLE = R"(
QMessageBox { background: rgb(58, 60, 66); }
QMessageBox QLabel { color: white; background: transparent; }
QMessageBox QLabel#qt_msgbox_label { font-weight: 600; font-size: 14px; }
QMessageBox QLabel#qt_msgbox_informativelabel { min-width: 300px; }
QMessageBox QDialogButtonBox { dialogbuttonbox-buttons-have-icons: 0; }
QMessageBox QPushButton {
    color: white; background: rgba(255, 255, 255, 0.14);
    border: 1px solid rgba(255, 255, 255, 0.28); border-radius: 5px; padding: 5px 18px;
    min-width: 64px;
}
QMessageBox QPushButton:hover { background: rgba(255, 255, 255, 0.22); }
QMessageBox QPushButton:default { background: rgb(58, 124, 209); border-color: rgb(88, 150, 230); }
)";

// Starts a move of the window managed by the window manager when a left press reaches the window
// itself, which happens for presses on its background and on labels (they ignore presses); input
// controls accept their presses and never get here.
class BackgroundDragFilter : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::MouseButtonPress)
            return false;
        auto* press = static_cast<QMouseEvent*>(event);
        auto* window = qobject_cast<QWidget*>(watched);
        if (press->button() != Qt::LeftButton || !window || !window->windowHandle())
            return false;
        return window->windowHandle()->startSystemMove();
    }
};

}  // namespace

void WindowAppearance::applyPanelLook(QWidget* window) {
    if (window->objectName().isEmpty())
        window->setObjectName(QStringLiteral("vaultinePanel"));
    window->setAttribute(Qt::WA_StyledBackground);
    window->setStyleSheet(QString::fromLatin1(PANEL_STYLE).arg(window->objectName()) +
                          QString::fromLatin1(ALERT_STYLE));
}

void WindowAppearance::applyDividerLook(QWidget* line) {
    line->setAttribute(Qt::WA_StyledBackground);
    line->setStyleSheet(QStringLiteral("background: rgb(99, 102, 108); border: none;"));
    line->setFixedHeight(1);
}

const char* WindowAppearance::alertStyleSheet() {
    return ALERT_STYLE;
}

void WindowAppearance::keepAboveOtherWindows(QWidget* window) {
    window->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                           Qt::WindowStaysOnTopHint);
}

void WindowAppearance::centerOnScreen(QWidget* window) {
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

void WindowAppearance::makeMovableByBackground(QWidget* window) {
    window->installEventFilter(new BackgroundDragFilter(window));
}
