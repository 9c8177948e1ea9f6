// Images of the program's resources, looked up by their names ("AppMenuBarIconBlack").
#pragma once

#include <QIcon>
#include <QString>

// The image named so among the resources (an SVG or PNG under resources/images), or a null icon.
QIcon namedImage(const QString& name);
// The path of the resource file behind a name, or empty.
QString namedImagePath(const QString& name);
