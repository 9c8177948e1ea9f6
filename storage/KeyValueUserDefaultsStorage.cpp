// Text entries of the defaults database, written through to disk on every change.
#include "storage/KeyValueUserDefaultsStorage.h"

KeyValueUserDefaultsStorage::KeyValueUserDefaultsStorage()
    : storage(platform::UserDefaults::shared()) {}

StoredValue KeyValueUserDefaultsStorage::readValue(const QString& key) {
    const QJsonValue value = storage.valueForKey(key);
    if (!storage.isReadable())
        return {StoredValue::Answer::unavailable, {}};
    if (!value.isString())
        return {StoredValue::Answer::absent, {}};
    return {StoredValue::Answer::present, value.toString()};
}

bool KeyValueUserDefaultsStorage::setValue(const QString& key, const QString& value) {
    storage.setValue(key, value);
    return storage.synchronize();
}

bool KeyValueUserDefaultsStorage::removeValue(const QString& key) {
    storage.removeObjectForKey(key);
    return storage.synchronize();
}
