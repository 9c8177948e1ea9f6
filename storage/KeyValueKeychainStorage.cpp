// Keychain items as UTF-8 text under per-program account names.
#include "storage/KeyValueKeychainStorage.h"

#include <QStringDecoder>

#include "storage/Constants.h"
#include "storage/Keychain.h"

QString KeyValueKeychainStorage::accountName(const QString& key) {
    return Constants::BUNDLE_ID() + QStringLiteral(" (") + key + QLatin1Char(')');
}

StoredValue KeyValueKeychainStorage::readValue(const QString& key) {
    const platform::SecretLookup lookup = Keychain::readData(accountName(key));
    if (lookup.answer == platform::SecretLookup::Answer::unavailable)
        return {StoredValue::Answer::unavailable, {}};
    if (lookup.answer == platform::SecretLookup::Answer::noItem)
        return {StoredValue::Answer::absent, {}};
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(lookup.bytes);
    // Bytes that are not UTF-8 are not a value of ours: the keyring answered, with nothing usable.
    if (decoder.hasError())
        return {StoredValue::Answer::absent, {}};
    return {StoredValue::Answer::present, text};
}

bool KeyValueKeychainStorage::setValue(const QString& key, const QString& value) {
    return Keychain::setData(accountName(key), value.toUtf8());
}

bool KeyValueKeychainStorage::removeValue(const QString& key) {
    const QString account = accountName(key);
    // Removing an item that is not there has still left the key absent.
    return Keychain::deleteData(account) ||
           Keychain::readData(account).answer == platform::SecretLookup::Answer::noItem;
}
