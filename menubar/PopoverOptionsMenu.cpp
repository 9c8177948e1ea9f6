// The options menu is built with its items when it is made; each item's current image name is kept
// in its "imageName" property, so that what an item shows can be read back from the action.
#include "menubar/PopoverOptionsMenu.h"

#include <QAction>
#include <QEvent>
#include <QPointer>
#include <QTimer>

#include "menubar/StatusLight.h"
#include "platform/Guard.h"

namespace {

const char* const IMAGE_NAME_PROPERTY = "imageName";
constexpr QSize ICON_SIZE(12, 12);

// The light menu that drops from the dark popover, with the selection colour of the popover's
// buttons so that the white icons read well on it.
const char* const STYLE = R"(
QMenu { background: rgb(246, 246, 248); color: rgb(29, 30, 33); border: 1px solid rgba(0, 0, 0, 0.28);
        padding: 5px 0; }
QMenu::item { padding: 5px 24px 5px 10px; background: transparent; }
QMenu::item:selected { background: rgb(58, 124, 209); color: white; }
QMenu::icon { left: 8px; }
QMenu::separator { height: 1px; background: rgba(0, 0, 0, 0.12); margin: 4px 10px; }
)";

void showImage(QAction* action, const QString& imageName) {
    action->setIcon(StatusLight::fixedSizeIcon(imageName, ICON_SIZE));
    action->setProperty(IMAGE_NAME_PROPERTY, imageName);
}

}  // namespace

PopoverOptionsMenu::PopoverOptionsMenu(QWidget* parent) : QMenu(parent) {
    setObjectName(QStringLiteral("optionsMenu"));
    setStyleSheet(QString::fromLatin1(STYLE));
    addItem(tr("Password Preferences"), QStringLiteral("PasswordMenuOption"),
            QKeySequence(Qt::CTRL | Qt::Key_Comma), &PopoverOptionsMenu::onChangePreferences);
    addItem(tr("Lock Other Applications"), QStringLiteral("LockAnotherAppMenuOption"),
            QKeySequence(Qt::CTRL | Qt::Key_Plus), &PopoverOptionsMenu::onLockAnotherApp);
    addSeparator();
    addItem(tr("Help && Support"), QStringLiteral("HelpMenuOption"),
            QKeySequence(Qt::CTRL | Qt::Key_H), &PopoverOptionsMenu::onHelp);
    addSeparator();
    addItem(tr("Quit"), QStringLiteral("QuitApplicationMenuOption"), QKeySequence(),
            &PopoverOptionsMenu::onQuit);
    // Which protection is in force, as a line to read rather than an item to choose.
    addSeparator();
    addAction(platform::Guard::protectionSummary(platform::Guard::shared().protecting()))
        ->setEnabled(false);
    connect(this, &QMenu::hovered, this, &PopoverOptionsMenu::highlightItem);
}

void PopoverOptionsMenu::addItem(const QString& title, const QString& imageName,
                                 const QKeySequence& keyEquivalent,
                                 std::function<void()> PopoverOptionsMenu::*callback) {
    QAction* action = addAction(title);
    showImage(action, imageName);
    action->setShortcut(keyEquivalent);
    action->setCheckable(false);
    connect(action, &QAction::triggered, this, [this, callback] {
        if (this->*callback)
            (this->*callback)();
    });
    items.push_back({action, imageName});
}

void PopoverOptionsMenu::highlightItem(QAction* item) {
    for (const Item& each : items) {
        if (each.action != item) {
            showImage(each.action, each.imageName);
            continue;
        }
        const QString white = each.imageName + QStringLiteral("_White");
        item->setIcon(StatusLight::naturalSizeIcon(white));
        item->setProperty(IMAGE_NAME_PROPERTY, white);
    }
}

void PopoverOptionsMenu::leaveEvent(QEvent* event) {
    QMenu::leaveEvent(event);
    // Leaving the menu clears its highlight without a signal; look again once QMenu has done so.
    QTimer::singleShot(0, this, [this] { highlightItem(activeAction()); });
}
