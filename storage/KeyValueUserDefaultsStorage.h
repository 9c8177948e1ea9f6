// The storage engine over the per-user defaults database.
#pragma once

#include "platform/UserDefaults.h"
#include "storage/IKeyValueStorage.h"

class KeyValueUserDefaultsStorage : public IKeyValueStorage {
  public:
    KeyValueUserDefaultsStorage();

    // Entries that are not text (numbers, lists) read as the empty string.
    QString getValue(const QString& key) override;
    void setValue(const QString& key, const QString& value) override;
    void removeValue(const QString& key) override;

  private:
    platform::UserDefaults& storage;
};
