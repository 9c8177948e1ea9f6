// Our own .app bundles, which live outside the XDG folders: the running program's bundle, the
// bundle that holds it as a login item, and the login items it holds.
#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>

#include "platform/MainBundle.h"

namespace platform {

// The bundles related to the main bundle, the main bundle first; empty outside a bundle.
QStringList ownBundles();
// Whether the path names a bundle directory rather than a desktop entry.
bool isBundlePath(const QString& path);
// `<bundle>/Contents/bin/<CFBundleExecutable>`, or empty when the dictionary names none.
QString bundleExecutable(const QString& bundlePath, const BundleInfo& info);
// The bundle's icon from Contents/Resources (AppIcon or the executable's name, SVG or PNG).
QIcon bundleIcon(const QString& bundlePath);

}  // namespace platform
