// The status item in the tray and the popover it opens: the icon (black or white by the
// desktop's appearance, highlighted while the popover is open), the toggling click, the closing by
// a click elsewhere, and Vaultine's activation when the popover opens.
#pragma once

#include <QElapsedTimer>
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

class QSystemTrayIcon;
class PopoverWindow;

class PopupSystem : public QObject {
    Q_OBJECT

  public:
    // What the item shows: the icon for a light bar, the one for a dark bar, or the highlighted
    // white icon of the open popover.
    enum class ItemLook { light, dark, highlighted };

    // The popover's content is the controller's widget; the popover window holds it as a child
    // but does not own it (its owner keeps it; it is detached when this object goes).
    PopupSystem(QWidget* controller, QIcon image, QIcon imageWhite);
    ~PopupSystem() override;

    // Show request: tells onWillShowPopover, opens the popover on a later turn of the main
    // queue when it is closed, logs "Focus" and activates Vaultine.
    void showPopover();
    // Closes the popover if it is open.
    void hidePopover();
    // A click on the item: toggles the popover.
    void mouseDown();
    // Draws the item again (the appearance is read anew each time).
    void drawRect();

    bool isActive() const { return active; }
    ItemLook itemLook() const { return look; }
    QWidget* popoverWindow() const;
    QSystemTrayIcon* statusItem() const { return statusBar.get(); }

    std::function<void()> onWillShowPopover;
    // How the item asks the desktop; tests replace them before showing anything.
    std::function<bool()> darkModeOn;
    std::function<void(const QString&)> focusOnApplication;

  protected:
    // Draws the item again when the desktop's theme or palette changes.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void openPopover();
    void popoverDidHide();
    static QIcon highlightedIcon(const QIcon& white);

    QPointer<QWidget> viewController;
    std::unique_ptr<QSystemTrayIcon> statusBar;
    QIcon image;
    QIcon imageWhite;
    QIcon imageHighlighted;
    std::unique_ptr<PopoverWindow> popover;
    bool active = false;
    ItemLook look = ItemLook::light;
    // When the popover last closed by itself (a click outside, Escape); see mouseDown.
    QElapsedTimer sinceSelfClose;
};
