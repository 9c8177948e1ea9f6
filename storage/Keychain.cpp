// The keychain wrapper over the platform's secret store.
#include "storage/Keychain.h"

#include "platform/SecretStore.h"

std::optional<QByteArray> Keychain::getData(const QString& account) {
    platform::SecretLookup lookup = readData(account);
    if (lookup.answer != platform::SecretLookup::Answer::found)
        return std::nullopt;
    return std::move(lookup.bytes);
}

platform::SecretLookup Keychain::readData(const QString& account) {
    return platform::SecretStore::shared().copyMatching(account);
}

bool Keychain::setData(const QString& account, const QByteArray& bytes) {
    // The store replaces the item in one call; deleting first would lose the value when the add
    // is refused.
    return platform::SecretStore::shared().store(account, bytes);
}

bool Keychain::deleteData(const QString& account) {
    return platform::SecretStore::shared().remove(account);
}
