// The window of the popover: a frameless popup with rounded corners that holds the popover's
// content, placed against the tray icon (or the pointer) and closed by any click outside it.
#pragma once

#include <QRect>
#include <QWidget>
#include <functional>

class PopoverWindow : public QWidget {
    Q_OBJECT

  public:
    static constexpr int CORNER_RADIUS = 10;
    // The gap between the tray icon (or the pointer) and the popover.
    static constexpr int ANCHOR_GAP = 6;

    PopoverWindow();

    // Makes the widget the popover's only content (the window takes it as a child).
    void setContent(QWidget* content);
    // Moves the window beside the anchor, inside the anchor's screen: below an anchor in the top
    // half of the screen, above one in the bottom half, centred on it horizontally.
    void placeAgainst(const QRect& anchor);
    // The position placeAgainst chooses for a window of `size` on a screen area `available`.
    static QPoint positionFor(const QRect& anchor, QSize size, const QRect& available);

    // Told whenever the window hides, also when Qt closes it for a click outside.
    std::function<void()> onHidden;

  protected:
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
};
