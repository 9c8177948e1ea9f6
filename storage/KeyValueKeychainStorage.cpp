// Keychain items as UTF-8 text under per-program account names.
#include "storage/KeyValueKeychainStorage.h"

#include <QStringDecoder>

#include "storage/Constants.h"
#include "storage/Keychain.h"

QString KeyValueKeychainStorage::accountName(const QString& key) {
    return Constants::BUNDLE_ID() + QStringLiteral(" (") + key + QLatin1Char(')');
}

QString KeyValueKeychainStorage::getValue(const QString& key) {
    const std::optional<QByteArray> bytes = Keychain::getData(accountName(key));
    if (!bytes)
        return {};
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(*bytes);
    // Bytes that are not UTF-8 are not a value of ours.
    if (decoder.hasError())
        return {};
    return text;
}

void KeyValueKeychainStorage::setValue(const QString& key, const QString& value) {
    Keychain::setData(accountName(key), value.toUtf8());
}

void KeyValueKeychainStorage::removeValue(const QString& key) {
    Keychain::deleteData(accountName(key));
}
