// The real storage engines: the session's Secret Service (inside the private desktop session) and
// the defaults file on disk, including a process killed while it writes.
#include <gtest/gtest.h>
#include <libsecret/secret.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <random>

#include "platform/linux/JsonFileUserDefaults.h"
#include "platform/linux/LibsecretStore.h"
#include "platform/testing/Doubles.h"
#include "storage/KeyValueKeychainStorage.h"
#include "storage/KeyValueStorage.h"

namespace {

bool secretServiceAvailable() {
    return qEnvironmentVariableIsSet("VAULTINE_SESSION_DIR");
}

// Counts the items of our schema whose account is `account`, straight from the Secret Service.
int itemCount(const QString& account) {
    const QByteArray accountUtf8 = account.toUtf8();
    GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
    g_hash_table_insert(attributes, const_cast<char*>("account"),
                        const_cast<char*>(accountUtf8.constData()));
    g_hash_table_insert(attributes, const_cast<char*>("xdg:schema"),
                        const_cast<char*>("org.vaultine.Keychain"));
    GList* items = secret_service_search_sync(nullptr, nullptr, attributes, SECRET_SEARCH_ALL,
                                              nullptr, nullptr);
    g_hash_table_unref(attributes);
    const int count = static_cast<int>(g_list_length(items));
    g_list_free_full(items, g_object_unref);
    return count;
}

class RealKeychainTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!secretServiceAvailable())
            GTEST_SKIP() << "needs the private desktop session";
        identifier = QStringLiteral("org.vaultine.test%1").arg(getpid());
        platform::testing::installMainBundle(identifier);
        platform::SecretStore::install(std::make_unique<platform::LibsecretStore>());
    }
    void TearDown() override {
        if (!secretServiceAvailable())
            return;
        for (const char* key : {"Password", "password", "Raw"}) {
            KeyValueStorage().removeValue(QLatin1String(key));
        }
        platform::testing::installMainBundle(QStringLiteral("org.vaultine.other%1").arg(getpid()));
        KeyValueStorage().removeValue(QStringLiteral("Password"));
    }

    QString identifier;
};

TEST_F(RealKeychainTest, ValueRoundTripsAndAWriteTwiceLeavesOneItem) {
    KeyValueStorage storage;
    storage.setValue(QStringLiteral("Password"), QStringLiteral("first ünïcode"));
    storage.setValue(QStringLiteral("Password"), QStringLiteral("second"));
    EXPECT_EQ(storage.getValue(QStringLiteral("Password")), QStringLiteral("second"));
    EXPECT_EQ(itemCount(KeyValueKeychainStorage::accountName(QStringLiteral("Password"))), 1);
}

TEST_F(RealKeychainTest, KeysAreCaseSensitive) {
    KeyValueStorage storage;
    storage.setValue(QStringLiteral("Password"), QStringLiteral("upper"));
    storage.setValue(QStringLiteral("password"), QStringLiteral("lower"));
    EXPECT_EQ(storage.getValue(QStringLiteral("Password")), QStringLiteral("upper"));
    EXPECT_EQ(storage.getValue(QStringLiteral("password")), QStringLiteral("lower"));
}

TEST_F(RealKeychainTest, TwoBundleIdentifiersNeverSeeEachOthersItems) {
    KeyValueStorage().setValue(QStringLiteral("Password"), QStringLiteral("mine"));
    platform::testing::installMainBundle(QStringLiteral("org.vaultine.other%1").arg(getpid()));
    EXPECT_EQ(KeyValueStorage().getValue(QStringLiteral("Password")), QString());
    KeyValueStorage().setValue(QStringLiteral("Password"), QStringLiteral("theirs"));
    platform::testing::installMainBundle(identifier);
    EXPECT_EQ(KeyValueStorage().getValue(QStringLiteral("Password")), QStringLiteral("mine"));
}

TEST_F(RealKeychainTest, RawBytesThatAreNotUtf8ReadAsEmpty) {
    const QString account = KeyValueKeychainStorage::accountName(QStringLiteral("Raw"));
    ASSERT_TRUE(platform::SecretStore::shared().store(account, QByteArray("\xff\xfe\x00\x80", 4)));
    EXPECT_EQ(platform::SecretStore::shared().copyMatching(account).bytes.size(), 4);
    EXPECT_EQ(KeyValueStorage().getValue(QStringLiteral("Raw")), QString());
}

TEST_F(RealKeychainTest, RemovingAnAbsentItemIsHarmless) {
    EXPECT_FALSE(platform::SecretStore::shared().remove(QStringLiteral("nobody (Nothing)")));
    EXPECT_EQ(KeyValueStorage().getValue(QStringLiteral("Nothing")), QString());
}

class RealDefaultsTest : public ::testing::Test {
  protected:
    QString path() const { return folder.path() + QStringLiteral("/org.test/defaults.json"); }
    QTemporaryDir folder;
};

TEST_F(RealDefaultsTest, ValuesSurviveANewProcessAndKeepTheirTypes) {
    {
        platform::JsonFileUserDefaults defaults(path());
        defaults.setValue(QStringLiteral("cbaal"), QStringLiteral("org.example.Editor"));
        defaults.setValue(QStringLiteral("count"), 3);
        ASSERT_TRUE(defaults.synchronize());
    }
    platform::UserDefaults::install(std::make_unique<platform::JsonFileUserDefaults>(path()));
    KeyValueStorage storage(KeyValueStorageType::userDefaults);
    EXPECT_EQ(storage.getValue(QStringLiteral("cbaal")), QStringLiteral("org.example.Editor"));
    EXPECT_EQ(storage.getValue(QStringLiteral("count")), QString());
}

TEST_F(RealDefaultsTest, CorruptFileReadsEmptyAndIsKeptAsideOnTheFirstWrite) {
    QDir().mkpath(QFileInfo(path()).absolutePath());
    QFile file(path());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("{ not json");
    file.close();
    platform::JsonFileUserDefaults defaults(path());
    EXPECT_TRUE(defaults.valueForKey(QStringLiteral("cbaal")).isUndefined());
    defaults.setValue(QStringLiteral("cbaal"), QStringLiteral("x"));
    ASSERT_TRUE(defaults.synchronize());
    QFile aside(path() + QStringLiteral(".corrupt"));
    ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
    EXPECT_EQ(aside.readAll(), QByteArray("{ not json"));
}

TEST_F(RealDefaultsTest, FolderThatCannotBeMadeReportsFailure) {
    // The defaults folder's place is taken by a plain file, so nothing can be saved there.
    QFile blocker(folder.path() + QStringLiteral("/org.test"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    platform::JsonFileUserDefaults defaults(path());
    defaults.setValue(QStringLiteral("cbaal"), QStringLiteral("new"));
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_EQ(defaults.valueForKey(QStringLiteral("cbaal")), QJsonValue(QStringLiteral("new")));
}

// A writer killed at random moments never leaves a file that is not one of its whole documents.
TEST_F(RealDefaultsTest, ProcessKilledMidWriteLeavesAWholeDocument) {
    {
        platform::JsonFileUserDefaults defaults(path());
        defaults.setValue(QStringLiteral("generation"), QStringLiteral("0"));
        ASSERT_TRUE(defaults.synchronize());
    }
    std::mt19937 random(42);
    for (int round = 0; round < 12; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            platform::JsonFileUserDefaults defaults(path());
            QJsonArray bulk;
            for (int i = 0; i < 20000; ++i)
                bulk.append(QStringLiteral("padding-%1").arg(i));
            for (int generation = 1;; ++generation) {
                defaults.setValue(QStringLiteral("generation"), QString::number(generation));
                defaults.setValue(QStringLiteral("bulk"), bulk);
                defaults.synchronize();
            }
        }
        usleep(20000 + random() % 80000);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
        ASSERT_TRUE(document.isObject()) << "round " << round;
        EXPECT_TRUE(document.object().value(QStringLiteral("generation")).isString());
    }
}

}  // namespace
