// The storage engine over the per-user defaults database.
#pragma once

#include "platform/UserDefaults.h"
#include "storage/IKeyValueStorage.h"

class KeyValueUserDefaultsStorage : public IKeyValueStorage {
  public:
    KeyValueUserDefaultsStorage();

    // Entries that are not text (numbers, lists) read as the empty string.
    StoredValue readValue(const QString& key) override;
    bool setValue(const QString& key, const QString& value) override;
    bool removeValue(const QString& key) override;

  private:
    platform::UserDefaults& storage;
};
