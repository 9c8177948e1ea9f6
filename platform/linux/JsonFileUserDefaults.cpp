// Reads and atomically saves the JSON document behind the defaults database.
#include "platform/linux/JsonFileUserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>
#include <cstdio>

#include "platform/MainBundle.h"

namespace platform {

namespace {
constexpr qint64 MAX_DOCUMENT_SIZE = 16 << 20;
}

std::unique_ptr<UserDefaults> UserDefaults::createDefault() {
    QString identifier = MainBundle::shared().bundleIdentifier();
    if (identifier.isEmpty())
        identifier = QStringLiteral("org.vaultine.unbundled");
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return std::make_unique<JsonFileUserDefaults>(folder + QLatin1Char('/') + identifier +
                                                  QStringLiteral("/defaults.json"));
}

JsonFileUserDefaults::JsonFileUserDefaults(QString filePath) : path(std::move(filePath)) {}

void JsonFileUserDefaults::load() {
    if (loaded)
        return;
    QFile file(path);
    if (!file.exists()) {
        loaded = true;
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        // Tried again on the next access; what it holds (the lock to restore) must not be lost.
        if (!unreadableOnDisk) {
            std::fprintf(stderr,
                         "Vaultine: cannot read the defaults file %s; it is left as it is and "
                         "nothing is saved until it can be read\n",
                         qPrintable(path));
        }
        unreadableOnDisk = true;
        return;
    }
    unreadableOnDisk = false;
    loaded = true;
    if (file.size() > MAX_DOCUMENT_SIZE) {
        corruptOnDisk = true;
        std::fprintf(stderr, "Vaultine: the defaults file %s is too large; starting empty\n",
                     qPrintable(path));
        return;
    }
    const std::optional<QJsonObject> parsed = parseDocument(file.read(MAX_DOCUMENT_SIZE));
    if (!parsed) {
        corruptOnDisk = true;
        std::fprintf(stderr,
                     "Vaultine: the defaults file %s is not a JSON object; starting empty\n",
                     qPrintable(path));
        return;
    }
    document = *parsed;
}

std::optional<QJsonObject> JsonFileUserDefaults::parseDocument(const QByteArray& bytes) {
    const QJsonDocument parsed = QJsonDocument::fromJson(bytes);
    if (!parsed.isObject())
        return std::nullopt;
    return parsed.object();
}

QJsonValue JsonFileUserDefaults::valueForKey(const QString& key) {
    load();
    return document.value(key);
}

void JsonFileUserDefaults::setValue(const QString& key, const QJsonValue& value) {
    load();
    document.insert(key, value);
}

void JsonFileUserDefaults::removeObjectForKey(const QString& key) {
    load();
    document.remove(key);
}

bool JsonFileUserDefaults::isReadable() {
    load();
    return !unreadableOnDisk;
}

bool JsonFileUserDefaults::synchronize() {
    load();
    if (unreadableOnDisk)
        return false;
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    if (corruptOnDisk) {
        const QString aside = path + QStringLiteral(".corrupt");
        QFile::remove(aside);
        QFile::rename(path, aside);
        corruptOnDisk = false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(document).toJson(QJsonDocument::Indented));
    return file.commit();
}

}  // namespace platform
