// The per-user defaults database: a map from text keys to JSON values that outlives the process.
#pragma once

#include <QJsonValue>
#include <QString>
#include <memory>

#include "platform/Installable.h"

namespace platform {

class UserDefaults : public Installable<UserDefaults> {
  public:
    virtual ~UserDefaults() = default;

    // The database of the main bundle: `$XDG_CONFIG_HOME/<bundle id>/defaults.json`.
    static std::unique_ptr<UserDefaults> createDefault();

    // The stored value, or an undefined value when the key is absent.
    virtual QJsonValue valueForKey(const QString& key) = 0;
    virtual void setValue(const QString& key, const QJsonValue& value) = 0;
    virtual void removeObjectForKey(const QString& key) = 0;
    // Writes the database through to its backing store; false when that failed. A backing store
    // that could not be read is never written over.
    virtual bool synchronize() = 0;
    // False while the backing store exists but cannot be read: values then read as absent, and
    // the caller must not take that for an empty database.
    virtual bool isReadable() = 0;
};

}  // namespace platform
