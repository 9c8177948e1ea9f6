// Locates our own bundles and what the workspace needs of them.
#include "platform/linux/OwnBundles.h"

#include <QDir>
#include <QFileInfo>

namespace platform {

QStringList ownBundles() {
    const QString main = MainBundle::shared().bundlePath();
    if (main.isEmpty())
        return {};
    QStringList bundles = {main};
    // Corvane lies in Vaultine's Contents/Library/LoginItems and watches Vaultine.
    const QString outer = enclosingBundlePath(QFileInfo(main).path());
    if (!outer.isEmpty())
        bundles.append(outer);
    for (const QString& bundle : QStringList(bundles)) {
        const QDir loginItems(bundle + QStringLiteral("/Contents/Library/LoginItems"));
        for (const QString& item : loginItems.entryList({QStringLiteral("*.app")}, QDir::Dirs)) {
            const QString path = loginItems.filePath(item);
            if (!bundles.contains(path))
                bundles.append(path);
        }
    }
    return bundles;
}

bool isBundlePath(const QString& path) {
    return QDir::cleanPath(path).endsWith(QLatin1String(".app")) && QFileInfo(path).isDir();
}

QString bundleExecutable(const QString& bundlePath, const BundleInfo& info) {
    // A name with a slash would leave the bundle.
    if (info.executable.isEmpty() || info.executable.contains(QLatin1Char('/')))
        return {};
    return bundlePath + QStringLiteral("/Contents/bin/") + info.executable;
}

QIcon bundleIcon(const QString& bundlePath) {
    const QDir resources(bundlePath + QStringLiteral("/Contents/Resources"));
    const std::optional<BundleInfo> info = readBundleInfo(bundlePath);
    QStringList names = {QStringLiteral("AppIcon")};
    if (info && !info->executable.isEmpty())
        names.append(info->executable);
    for (const QString& name : names) {
        for (const char* extension : {".svg", ".png"}) {
            const QString file = resources.filePath(name + QLatin1String(extension));
            if (QFileInfo(file).isFile())
                return QIcon(file);
        }
    }
    return {};
}

}  // namespace platform
