// The green or yellow status light beside a switch, and the small icons of the options menu,
// drawn crisp at the screen's pixel ratio from the named resource images.
#pragma once

#include <QIcon>
#include <QSize>
#include <QString>

class QLabel;

namespace StatusLight {

inline const QString ON_IMAGE = QStringLiteral("NSStatusAvailable");
inline const QString OFF_IMAGE = QStringLiteral("NSStatusPartiallyAvailable");

// Shows the light of a switch that is on (state exactly checked) or off; the label's "imageName"
// property tells which image it shows.
void setLight(QLabel* light, bool on);

// The named image as an icon that never draws larger than `size`, however large the menu asks.
QIcon fixedSizeIcon(const QString& name, QSize size);
// The named image at the size it was drawn for.
QIcon naturalSizeIcon(const QString& name);

}  // namespace StatusLight
