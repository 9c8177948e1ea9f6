// The storage engine over the keychain: each key is one item whose account names the program.
#pragma once

#include "storage/IKeyValueStorage.h"

class KeyValueKeychainStorage : public IKeyValueStorage {
  public:
    // "<main bundle identifier> (<key>)", so two programs never see each other's items.
    static QString accountName(const QString& key);

    StoredValue readValue(const QString& key) override;
    bool setValue(const QString& key, const QString& value) override;
    bool removeValue(const QString& key) override;
};
