// Locates the running program's bundle and reads bundle information dictionaries.
#include "platform/MainBundle.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace platform {

namespace {

// Bundles hold a few hundred bytes of JSON; anything far larger is not an information dictionary.
constexpr qint64 MAX_INFO_SIZE = 1 << 20;

QString textEntry(const QJsonObject& object, const char* key) {
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isString() ? value.toString() : QString();
}

}  // namespace

std::optional<BundleInfo> readBundleInfo(const QString& bundlePath) {
    QFile file(bundlePath + QStringLiteral("/Contents/Info.json"));
    if (!file.open(QIODevice::ReadOnly) || file.size() > MAX_INFO_SIZE)
        return std::nullopt;
    return parseBundleInfo(file.read(MAX_INFO_SIZE));
}

std::optional<BundleInfo> parseBundleInfo(const QByteArray& json) {
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    BundleInfo info;
    info.identifier = textEntry(object, "CFBundleIdentifier");
    info.name = textEntry(object, "CFBundleName");
    info.executable = textEntry(object, "CFBundleExecutable");
    info.backgroundOnly = object.value(QLatin1String("LSBackgroundOnly")).toBool(false);
    return info;
}

QString enclosingBundlePath(const QString& path) {
    QString candidate = QDir::cleanPath(path);
    while (!candidate.isEmpty() && candidate != QLatin1String("/")) {
        if (candidate.endsWith(QLatin1String(".app")))
            return candidate;
        const int slash = candidate.lastIndexOf(QLatin1Char('/'));
        if (slash <= 0)
            break;
        candidate.truncate(slash);
    }
    return {};
}

MainBundle::MainBundle(QString bundlePath, QString bundleIdentifier)
    : path(std::move(bundlePath)), identifier(std::move(bundleIdentifier)) {}

std::unique_ptr<MainBundle> MainBundle::createDefault() {
    const QString executable = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    const QString bundle = enclosingBundlePath(executable);
    const std::optional<BundleInfo> info = bundle.isEmpty() ? std::nullopt : readBundleInfo(bundle);
    return std::make_unique<MainBundle>(bundle, info ? info->identifier : QString());
}

}  // namespace platform
