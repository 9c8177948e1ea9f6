// Fuzzes the reading of stored settings: the keyring's items hold arbitrary bytes, and every getter
// must read them without failing; the locked list must survive a decode-encode-decode round.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/testing/Doubles.h"
#include "platform/testing/FakeWorkspace.h"
#include "storage/ConfigurationAndPreferencesService.h"
#include "storage/KeyConstants.h"
#include "storage/KeyValueKeychainStorage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool installed = [] {
        platform::testing::installMainBundle(QStringLiteral("org.vaultine.Vaultine"));
        platform::Workspace::install(std::make_unique<platform::testing::FakeWorkspace>());
        return true;
    }();
    (void)installed;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    auto secrets = std::make_unique<platform::testing::FakeSecretStore>();
    for (const QString& key :
         {KeyConstants::APPLICATIONS_KEY, KeyConstants::APPLICATION_PASSWORD_KEY,
          KeyConstants::APPLICATION_IS_ACTIVE_KEY, KeyConstants::START_AT_LOGIN_KEY,
          KeyConstants::LOCK_ADMINISTRATIVE_APPS_KEY}) {
        secrets->items[KeyValueKeychainStorage::accountName(key)] = bytes;
    }
    platform::SecretStore::install(std::move(secrets));

    ConfigurationAndPreferencesService service;
    const QStringList identifiers = service.getLockedApplicationsBundleIds();
    const QString encoded = ConfigurationAndPreferencesService::encodeList(identifiers);
    if (ConfigurationAndPreferencesService::decodeList(encoded) != identifiers)
        std::abort();
    (void)service.getLockedApplications();
    (void)service.getApplicationIsActive();
    (void)service.getStartAtLogin();
    (void)service.getLockAdministrativeApplications();
    const QString password = service.getApplicationPassword();
    const QString half = password.left(password.size() / 2);
    (void)service.validateApplicationPassword(password, half);
    (void)service.validateApplicationPassword(half, password);
    return 0;
}
