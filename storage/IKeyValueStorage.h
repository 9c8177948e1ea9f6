// The one storage contract: text values under text keys, where a miss reads as the empty string.
#pragma once

#include <QString>

enum class KeyValueStorageType { userDefaults, keychain };

// What a storage answered for one key: nothing stored, a value, or no answer at all (a locked
// keyring, no keyring, a defaults file that cannot be read). Callers that must not take a store
// that did not answer for an empty one (the first-run path, protection) ask for this.
struct StoredValue {
    enum class Answer { absent, present, unavailable };
    Answer answer = Answer::absent;
    QString text;  // the value when present; the empty string otherwise

    bool answered() const { return answer != Answer::unavailable; }
};

class IKeyValueStorage {
  public:
    virtual ~IKeyValueStorage() = default;
    virtual StoredValue readValue(const QString& key) = 0;
    // The stored text; the empty string when absent or unreadable. Never fails.
    QString getValue(const QString& key) { return readValue(key).text; }
    // True iff the value took effect in the backing store.
    virtual bool setValue(const QString& key, const QString& value) = 0;
    // True iff the key is absent from the backing store afterwards.
    virtual bool removeValue(const QString& key) = 0;
};
