// The lock window: a frameless, override-redirect, always-on-top window that can still take the
// keyboard focus, in the lock screen's colour, and that swallows every key and click it receives.
#pragma once

#include <QPointer>
#include <QWidget>

class BorderlessKeyWindow : public QWidget {
    Q_OBJECT

  public:
    // The lock screen's background: RGB 65, 68, 75.
    static QColor backgroundColor();

    // The flags are added to those of a frameless window that bypasses the window manager.
    explicit BorderlessKeyWindow(QWidget* parent = nullptr, Qt::WindowFlags flags = {});

    // A frameless window must still become the focused one: it takes typed input.
    bool canBecomeKeyWindow() const { return true; }

    // Keeps `view` centred in the window, at its preferred size; centerView() puts it back.
    void setCenteredView(QWidget* view);
    void centerView();

  protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QPointer<QWidget> centeredView;
};
