// The storage facade the program holds: one engine chosen at construction.
#pragma once

#include <memory>

#include "storage/IKeyValueStorage.h"

class KeyValueStorage : public IKeyValueStorage {
  public:
    // Over the keychain.
    KeyValueStorage();
    explicit KeyValueStorage(KeyValueStorageType type);

    QString getValue(const QString& key) override { return keyValueStorageEngine->getValue(key); }
    void setValue(const QString& key, const QString& value) override {
        keyValueStorageEngine->setValue(key, value);
    }
    void removeValue(const QString& key) override { keyValueStorageEngine->removeValue(key); }

  private:
    std::unique_ptr<IKeyValueStorage> keyValueStorageEngine;
};
