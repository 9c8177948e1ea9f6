// Generic-password items in the Secret Service, one per account.
#include "platform/linux/LibsecretStore.h"

#include <libsecret/secret.h>

#include <atomic>
#include <cstdio>

#include "platform/linux/GLibPointers.h"

namespace platform {

namespace {

const SecretSchema* keychainSchema() {
    static const SecretSchema schema = {
        "org.vaultine.Keychain",
        SECRET_SCHEMA_NONE,
        {{"account", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
        0,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr};
    return &schema;
}

// Tells the user once that their secrets cannot be reached; later failures stay quiet.
void reportFailure(const GErrorSlot& error) {
    static std::atomic<bool> reported{false};
    if (!error || reported.exchange(true))
        return;
    std::fprintf(stderr,
                 "Vaultine: the keyring (Secret Service) did not answer: %s. The password and "
                 "settings cannot be read or stored until a keyring runs and is unlocked.\n",
                 error.message());
}

struct SecretValueUnref {
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};

}  // namespace

std::unique_ptr<SecretStore> SecretStore::createDefault() {
    return std::make_unique<LibsecretStore>();
}

std::optional<QByteArray> LibsecretStore::copyMatching(const QString& account) {
    const QByteArray accountUtf8 = account.toUtf8();
    GErrorSlot error;
    GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
    g_hash_table_insert(attributes, const_cast<char*>("account"),
                        const_cast<char*>(accountUtf8.constData()));
    GList* items = secret_service_search_sync(
        nullptr, keychainSchema(), attributes,
        static_cast<SecretSearchFlags>(SECRET_SEARCH_UNLOCK | SECRET_SEARCH_LOAD_SECRETS), nullptr,
        error.out());
    g_hash_table_unref(attributes);
    reportFailure(error);
    std::optional<QByteArray> result;
    if (items) {
        auto* item = static_cast<SecretItem*>(items->data);
        if (SecretValue* value = secret_item_get_secret(item)) {
            std::unique_ptr<SecretValue, SecretValueUnref> owned(value);
            gsize length = 0;
            const gchar* bytes = secret_value_get(value, &length);
            result = QByteArray(bytes, static_cast<qsizetype>(length));
        }
    }
    g_list_free_full(items, g_object_unref);
    return result;
}

bool LibsecretStore::store(const QString& account, const QByteArray& bytes) {
    const QByteArray accountUtf8 = account.toUtf8();
    GErrorSlot error;
    // The value is stored as raw bytes so that reading gives back exactly what was written.
    std::unique_ptr<SecretValue, SecretValueUnref> value(
        secret_value_new(bytes.constData(), bytes.size(), "application/octet-stream"));
    GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
    g_hash_table_insert(attributes, const_cast<char*>("account"),
                        const_cast<char*>(accountUtf8.constData()));
    // Storing with the same attributes replaces the previous item in one step.
    const gboolean stored =
        secret_service_store_sync(nullptr, keychainSchema(), attributes, SECRET_COLLECTION_DEFAULT,
                                  accountUtf8.constData(), value.get(), nullptr, error.out());
    g_hash_table_unref(attributes);
    reportFailure(error);
    return stored;
}

bool LibsecretStore::remove(const QString& account) {
    const QByteArray accountUtf8 = account.toUtf8();
    GErrorSlot error;
    const gboolean removed = secret_password_clear_sync(
        keychainSchema(), nullptr, error.out(), "account", accountUtf8.constData(), nullptr);
    reportFailure(error);
    return removed;
}

}  // namespace platform
