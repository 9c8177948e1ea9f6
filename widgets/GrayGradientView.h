// The dark grey background of the popover and the windows: a vertical gradient, darker at the
// bottom. Forms use it as a promoted QWidget ("widgets/GrayGradientView.h").
#pragma once

#include <QColor>
#include <QWidget>

class GrayGradientView : public QWidget {
    Q_OBJECT

  public:
    explicit GrayGradientView(QWidget* parent = nullptr);

    static inline const QColor bottomColor{42, 43, 47};
    static inline const QColor topColor{94, 97, 106};

  protected:
    void paintEvent(QPaintEvent* event) override;
};
