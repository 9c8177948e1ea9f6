// The tray icon and its popover. The popover is a Qt::Popup window: Qt closes it on any click
// outside it (in Vaultine or in another program), and this object follows that closing.
#include "menubar/PopupSystem.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QtGlobal>

#include "core/BackgroundRunner.h"
#include "locking/SystemApplicationsService.h"
#include "locking/SystemConfigurationService.h"
#include "menubar/PopoverWindow.h"
#include "storage/Constants.h"

namespace {
// A click on the item that closed the popover (as a click outside it) may reach the item too;
// a toggle that soon after the closing is that same click and must not reopen it.
constexpr qint64 closingClickMilliseconds = 300;
const QColor highlightColor(58, 124, 209);
}  // namespace

PopupSystem::PopupSystem(QWidget* controller, QIcon lightBarImage, QIcon darkBarImage)
    : viewController(controller),
      statusBar(std::make_unique<QSystemTrayIcon>()),
      image(std::move(lightBarImage)),
      imageWhite(std::move(darkBarImage)),
      popover(std::make_unique<PopoverWindow>()) {
    imageHighlighted = highlightedIcon(imageWhite);
    darkModeOn = [] { return SystemConfigurationService().darkModeOn(); };
    focusOnApplication = [](const QString& identifier) {
        SystemApplicationsService().focusOnApplication(identifier);
    };

    popover->setContent(controller);
    popover->onHidden = [this] { popoverDidHide(); };

    statusBar->setToolTip(QStringLiteral("Vaultine"));
    connect(statusBar.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    mouseDown();
            });
    drawRect();
    statusBar->show();
    // No tray (a Wayland desktop without a StatusNotifierItem host): main.cpp opens the popover
    // when the user starts Vaultine again.
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        qInfo("No tray to show the status item: starting Vaultine again opens its popover");
    if (qApp)
        qApp->installEventFilter(this);
}

bool PopupSystem::eventFilter(QObject* watched, QEvent* event) {
    if (watched == qApp &&
        (event->type() == QEvent::ApplicationPaletteChange || event->type() == QEvent::ThemeChange))
        drawRect();
    return QObject::eventFilter(watched, event);
}

PopupSystem::~PopupSystem() {
    popover->onHidden = nullptr;
    // The controller belongs to our owner: take it out before the window deletes its children.
    if (viewController)
        viewController->setParent(nullptr);
}

QWidget* PopupSystem::popoverWindow() const {
    return popover.get();
}

void PopupSystem::mouseDown() {
    if (active) {
        hidePopover();
        return;
    }
    if (sinceSelfClose.isValid() && sinceSelfClose.elapsed() < closingClickMilliseconds) {
        sinceSelfClose.invalidate();
        return;
    }
    showPopover();
}

void PopupSystem::showPopover() {
    if (onWillShowPopover)
        onWillShowPopover();
    if (!active) {
        QPointer<PopupSystem> self = this;
        BackgroundRunner().runOnMainThread([self] {
            if (self)
                self->openPopover();
        });
    }
    qInfo("Focus");
    if (focusOnApplication)
        focusOnApplication(Constants::BUNDLE_ID());
}

void PopupSystem::openPopover() {
    active = true;
    drawRect();
    // Trays that do not tell where the icon is (StatusNotifierItem hosts) give an empty
    // rectangle; the pointer, which just clicked the icon, is the best guess then.
    QRect anchor = statusBar->geometry();
    if (anchor.isEmpty())
        anchor = QRect(QCursor::pos(), QSize(1, 1));
    popover->placeAgainst(anchor);
    popover->show();
    popover->raise();
    popover->activateWindow();
}

void PopupSystem::hidePopover() {
    if (!active)
        return;
    active = false;
    drawRect();
    popover->hide();
}

void PopupSystem::popoverDidHide() {
    if (!active)
        return;
    active = false;
    sinceSelfClose.start();
    drawRect();
}

void PopupSystem::drawRect() {
    if (active)
        look = ItemLook::highlighted;
    else
        look = darkModeOn && darkModeOn() ? ItemLook::dark : ItemLook::light;
    const QIcon& shown = look == ItemLook::highlighted ? imageHighlighted
                         : look == ItemLook::dark      ? imageWhite
                                                       : image;
    statusBar->setIcon(shown);
}

QIcon PopupSystem::highlightedIcon(const QIcon& white) {
    QIcon icon;
    for (int side : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(highlightColor);
        painter.drawRoundedRect(QRectF(0, 0, side, side), side / 5.0, side / 5.0);
        const int inset = side / 8;
        white.paint(&painter, QRect(inset, inset, side - 2 * inset, side - 2 * inset));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
