// Chooses the facade's engine.
#include "storage/KeyValueStorage.h"

#include "storage/KeyValueKeychainStorage.h"
#include "storage/KeyValueUserDefaultsStorage.h"

KeyValueStorage::KeyValueStorage() : KeyValueStorage(KeyValueStorageType::keychain) {}

KeyValueStorage::KeyValueStorage(KeyValueStorageType type) {
    if (type == KeyValueStorageType::userDefaults) {
        keyValueStorageEngine = std::make_unique<KeyValueUserDefaultsStorage>();
    } else {
        keyValueStorageEngine = std::make_unique<KeyValueKeychainStorage>();
    }
}
