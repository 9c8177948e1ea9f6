// The menu that drops from the popover's options button: password preferences, locking other
// applications, help and quit, each with its image, which turns white while the item is
// highlighted.
#pragma once

#include <QKeySequence>
#include <QMenu>
#include <QString>
#include <functional>
#include <vector>

class QAction;

class PopoverOptionsMenu : public QMenu {
    Q_OBJECT

  public:
    explicit PopoverOptionsMenu(QWidget* parent = nullptr);

    // Shows every item with its own image and the given one, if it is an item, with the white one.
    void highlightItem(QAction* item);

    std::function<void()> onChangePreferences;
    std::function<void()> onLockAnotherApp;
    std::function<void()> onHelp;
    std::function<void()> onQuit;

  protected:
    void leaveEvent(QEvent* event) override;

  private:
    struct Item {
        QAction* action;
        QString imageName;
    };

    void addItem(const QString& title, const QString& imageName, const QKeySequence& keyEquivalent,
                 std::function<void()> PopoverOptionsMenu::*callback);

    // The items that carry an image, in menu order; the menu owns their actions.
    std::vector<Item> items;
};
