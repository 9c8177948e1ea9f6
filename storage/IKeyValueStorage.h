// The one storage contract: text values under text keys, where a miss reads as the empty string.
#pragma once

#include <QString>

enum class KeyValueStorageType { userDefaults, keychain };

class IKeyValueStorage {
  public:
    virtual ~IKeyValueStorage() = default;
    // The stored text; the empty string when absent or unreadable. Never fails.
    virtual QString getValue(const QString& key) = 0;
    // Stores the text. Reports nothing: a caller that must know whether the value took effect
    // reads it back.
    virtual void setValue(const QString& key, const QString& value) = 0;
    virtual void removeValue(const QString& key) = 0;
};
