// Text entries of the defaults database, written through to disk on every change.
#include "storage/KeyValueUserDefaultsStorage.h"

KeyValueUserDefaultsStorage::KeyValueUserDefaultsStorage()
    : storage(platform::UserDefaults::shared()) {}

QString KeyValueUserDefaultsStorage::getValue(const QString& key) {
    const QJsonValue value = storage.valueForKey(key);
    return value.isString() ? value.toString() : QString();
}

void KeyValueUserDefaultsStorage::setValue(const QString& key, const QString& value) {
    storage.setValue(key, value);
    storage.synchronize();
}

void KeyValueUserDefaultsStorage::removeValue(const QString& key) {
    storage.removeObjectForKey(key);
    storage.synchronize();
}
