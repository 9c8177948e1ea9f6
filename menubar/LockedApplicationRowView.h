// One row of the popover's list of locked applications: the application's icon, its name and the
// button that stops locking it. The popover wires the button; the row only shows the application.
#pragma once

#include <QWidget>

#include "core/ApplicationEntity.h"

class QLabel;
class ImageButtonView;

class LockedApplicationRowView : public QWidget {
    Q_OBJECT

  public:
    static constexpr int HEIGHT = 46;

    explicit LockedApplicationRowView(QWidget* parent = nullptr);

    // The icon is drawn for the pixel ratio of the window the row is going to be shown in.
    void showApplication(const ApplicationEntity& entity, qreal devicePixelRatio);

    QLabel* icon() const { return iconView; }
    QLabel* name() const { return nameView; }
    ImageButtonView* removeButton() const { return removeButtonView; }

  private:
    QLabel* iconView = nullptr;
    QLabel* nameView = nullptr;
    ImageButtonView* removeButtonView = nullptr;
};
