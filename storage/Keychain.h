// Generic-password items of the user's keychain, addressed by account; one item per account.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

#include "platform/SecretStore.h"

class Keychain {
  public:
    Keychain() = delete;
    // The account's bytes, or none when there is no item or it cannot be read.
    static std::optional<QByteArray> getData(const QString& account);
    // The store's whole answer: no item, the bytes, or unavailable (locked, not answering).
    static platform::SecretLookup readData(const QString& account);
    // Replaces the account's item with the bytes. A refused write keeps the previous item, so a
    // failure never leaves the account without its value. True iff the new item was stored.
    static bool setData(const QString& account, const QByteArray& bytes);
    // True iff an item was removed.
    static bool deleteData(const QString& account);
};
