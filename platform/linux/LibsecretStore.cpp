// Generic-password items in the Secret Service, one per account.
#include "platform/linux/LibsecretStore.h"

#include <libsecret/secret.h>

#include <QDBusConnection>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cstdio>

#include "platform/linux/GLibPointers.h"

namespace platform {

namespace {

constexpr int retryIntervalMs = 3000;

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

LibsecretStore::LibsecretStore() = default;

LibsecretStore::~LibsecretStore() = default;

namespace {

// Whether the default collection is locked now; a store without one (a new keyring) is not.
bool defaultCollectionLocked(GErrorSlot& error) {
    GObjectPtr<SecretService> service(
        secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, error.out()));
    if (!service)
        return true;
    GObjectPtr<SecretCollection> collection(secret_collection_for_alias_sync(
        service.get(), SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, error.out()));
    if (error)
        return true;
    return collection && secret_collection_get_locked(collection.get());
}

}  // namespace

SecretLookup LibsecretStore::copyMatching(const QString& account) {
    const QByteArray accountUtf8 = account.toUtf8();
    GErrorSlot error;
    GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
    g_hash_table_insert(attributes, const_cast<char*>("account"),
                        const_cast<char*>(accountUtf8.constData()));
    // Without SECRET_SEARCH_UNLOCK: locked items come back locked instead of raising a prompt.
    GList* items = secret_service_search_sync(nullptr, keychainSchema(), attributes,
                                              SECRET_SEARCH_LOAD_SECRETS, nullptr, error.out());
    g_hash_table_unref(attributes);
    SecretLookup lookup = SecretLookup::unavailable();
    if (error) {
        reportFailure(error);
    } else if (items) {
        auto* item = static_cast<SecretItem*>(items->data);
        if (SecretValue* value = secret_item_get_secret(item)) {
            std::unique_ptr<SecretValue, SecretValueUnref> owned(value);
            gsize length = 0;
            const gchar* bytes = secret_value_get(value, &length);
            lookup = SecretLookup::found(QByteArray(bytes, static_cast<qsizetype>(length)));
        }
    } else {
        // Some services hide the items of a locked collection: nothing found there is no answer.
        GErrorSlot collectionError;
        if (!defaultCollectionLocked(collectionError))
            lookup = SecretLookup::noItem();
        reportFailure(collectionError);
    }
    g_list_free_full(items, g_object_unref);
    noteAnswer(lookup);
    return lookup;
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

void LibsecretStore::addAvailabilityObserver(std::function<void()> handler) {
    observers.add(std::move(handler));
    watchService();
}

void LibsecretStore::watchService() {
    if (watching)
        return;
    watching = true;
    // Any collection's properties (Locked among them), its items, and the service's list of
    // collections; the empty path matches every object of the service.
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString service = QStringLiteral("org.freedesktop.secrets");
    bus.connect(service, QString(), QStringLiteral("org.freedesktop.DBus.Properties"),
                QStringLiteral("PropertiesChanged"), this, SLOT(storeMayHaveChanged()));
    bus.connect(service, QString(), QStringLiteral("org.freedesktop.Secret.Service"),
                QStringLiteral("CollectionChanged"), this, SLOT(storeMayHaveChanged()));
    // Items deleted, replaced or added by any program: the owner writes back what it keeps.
    for (const char* member : {"ItemCreated", "ItemDeleted", "ItemChanged"})
        bus.connect(service, QString(), QStringLiteral("org.freedesktop.Secret.Collection"),
                    QLatin1String(member), this, SLOT(storeMayHaveChanged()));
    retryTimer = new QTimer(this);
    retryTimer->setInterval(retryIntervalMs);
    connect(retryTimer, &QTimer::timeout, this, &LibsecretStore::storeMayHaveChanged);
}

void LibsecretStore::noteAnswer(const SecretLookup& lookup) {
    if (!retryTimer)
        return;
    // Reads run on the main thread, where the timer lives; a read from elsewhere leaves it be.
    if (QThread::currentThread() != thread())
        return;
    if (lookup.answer == SecretLookup::Answer::unavailable)
        retryTimer->start();
    else
        retryTimer->stop();
}

void LibsecretStore::storeMayHaveChanged() {
    observers.notify();
}

}  // namespace platform
