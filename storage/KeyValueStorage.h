// The storage facade the program holds: one engine chosen at construction.
#pragma once

#include <memory>

#include "storage/IKeyValueStorage.h"

class KeyValueStorage : public IKeyValueStorage {
  public:
    // Over the keychain.
    KeyValueStorage();
    explicit KeyValueStorage(KeyValueStorageType type);

    StoredValue readValue(const QString& key) override {
        return keyValueStorageEngine->readValue(key);
    }
    bool setValue(const QString& key, const QString& value) override {
        return keyValueStorageEngine->setValue(key, value);
    }
    bool removeValue(const QString& key) override {
        return keyValueStorageEngine->removeValue(key);
    }

  private:
    std::unique_ptr<IKeyValueStorage> keyValueStorageEngine;
};
