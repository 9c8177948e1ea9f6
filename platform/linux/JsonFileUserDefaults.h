// The defaults database as one JSON document on disk, saved atomically on every synchronize.
#pragma once

#include <QJsonObject>
#include <QString>
#include <optional>

#include "platform/UserDefaults.h"

namespace platform {

// Keeps the document in memory after the first read and writes the whole document on
// `synchronize` through a temporary file that replaces the old one, so a crash mid-write leaves
// the previous file. A file that is not a JSON object is kept aside as "<name>.corrupt" when the
// first write replaces it, so nothing the user had is silently destroyed. A file that exists but
// cannot be opened (its permissions, an I/O error) is read again on every access and never
// replaced: writes fail until it can be read.
class JsonFileUserDefaults : public UserDefaults {
  public:
    explicit JsonFileUserDefaults(QString filePath);

    QJsonValue valueForKey(const QString& key) override;
    void setValue(const QString& key, const QJsonValue& value) override;
    void removeObjectForKey(const QString& key) override;
    bool synchronize() override;
    bool isReadable() override;

    // The document a file's bytes hold; none when they are not a JSON object.
    static std::optional<QJsonObject> parseDocument(const QByteArray& bytes);

  private:
    void load();

    QString path;
    QJsonObject document;
    bool loaded = false;
    bool corruptOnDisk = false;
    bool unreadableOnDisk = false;  // the file exists but would not open: never written over
};

}  // namespace platform
