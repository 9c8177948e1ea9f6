// The two storage engines over in-memory doubles: misses, non-text and non-UTF-8 values, account
// names and replace-on-write.
#include <gtest/gtest.h>

#include <QJsonArray>

#include "platform/testing/Doubles.h"
#include "storage/KeyValueKeychainStorage.h"
#include "storage/KeyValueStorage.h"

using platform::testing::FakeSecretStore;
using platform::testing::InMemoryUserDefaults;

namespace {

class StorageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::testing::installMainBundle(QStringLiteral("org.vaultine.Vaultine"));
        auto store = std::make_unique<FakeSecretStore>();
        secrets = store.get();
        platform::SecretStore::install(std::move(store));
        auto userDefaults = std::make_unique<InMemoryUserDefaults>();
        defaults = userDefaults.get();
        platform::UserDefaults::install(std::move(userDefaults));
    }

    FakeSecretStore* secrets = nullptr;
    InMemoryUserDefaults* defaults = nullptr;
};

TEST_F(StorageTest, MissesReadAsEmptyFromBothEngines) {
    EXPECT_EQ(KeyValueStorage().getValue(QStringLiteral("Password")), QString());
    EXPECT_EQ(KeyValueStorage(KeyValueStorageType::userDefaults).getValue(QStringLiteral("cbaal")),
              QString());
}

TEST_F(StorageTest, KeychainAccountNamesTheProgramAndTheKey) {
    EXPECT_EQ(KeyValueKeychainStorage::accountName(QStringLiteral("Password")),
              QStringLiteral("org.vaultine.Vaultine (Password)"));
    KeyValueStorage().setValue(QStringLiteral("Password"), QStringLiteral("pässword"));
    EXPECT_EQ(secrets->items.at(QStringLiteral("org.vaultine.Vaultine (Password)")),
              QByteArray("p\xc3\xa4ssword"));
}

TEST_F(StorageTest, WritingTwiceLeavesOneItemWithTheSecondValue) {
    KeyValueStorage storage;
    storage.setValue(QStringLiteral("Active"), QStringLiteral("1"));
    storage.setValue(QStringLiteral("Active"), QStringLiteral("0"));
    EXPECT_EQ(secrets->items.size(), 1u);
    EXPECT_EQ(storage.getValue(QStringLiteral("Active")), QStringLiteral("0"));
}

TEST_F(StorageTest, KeysAreCaseSensitive) {
    KeyValueStorage storage;
    storage.setValue(QStringLiteral("Password"), QStringLiteral("upper"));
    storage.setValue(QStringLiteral("password"), QStringLiteral("lower"));
    EXPECT_EQ(storage.getValue(QStringLiteral("Password")), QStringLiteral("upper"));
    EXPECT_EQ(storage.getValue(QStringLiteral("password")), QStringLiteral("lower"));
}

TEST_F(StorageTest, KeychainBytesThatAreNotUtf8ReadAsEmpty) {
    secrets->items[QStringLiteral("org.vaultine.Vaultine (Password)")] = QByteArray("\xff\xfe\x80");
    EXPECT_EQ(KeyValueStorage().getValue(QStringLiteral("Password")), QString());
}

TEST_F(StorageTest, RefusedKeychainWriteKeepsThePreviousValue) {
    KeyValueStorage storage;
    storage.setValue(QStringLiteral("Password"), QStringLiteral("old"));
    secrets->refuseWrites = true;
    storage.setValue(QStringLiteral("Password"), QStringLiteral("new"));
    EXPECT_EQ(storage.getValue(QStringLiteral("Password")), QStringLiteral("old"));
}

TEST_F(StorageTest, KeychainTellsAMissFromAKeyringThatDidNotAnswer) {
    KeyValueStorage storage;
    EXPECT_EQ(storage.readValue(QStringLiteral("Password")).answer, StoredValue::Answer::absent);
    storage.setValue(QStringLiteral("Password"), QStringLiteral("kept"));
    const StoredValue read = storage.readValue(QStringLiteral("Password"));
    EXPECT_EQ(read.answer, StoredValue::Answer::present);
    EXPECT_EQ(read.text, QStringLiteral("kept"));
    secrets->unreachable = true;
    const StoredValue locked = storage.readValue(QStringLiteral("Password"));
    EXPECT_EQ(locked.answer, StoredValue::Answer::unavailable);
    EXPECT_EQ(locked.text, QString());
}

TEST_F(StorageTest, DefaultsThatCannotBeReadAreNoAnswer) {
    KeyValueStorage storage(KeyValueStorageType::userDefaults);
    EXPECT_EQ(storage.readValue(QStringLiteral("cbaal")).answer, StoredValue::Answer::absent);
    defaults->unreadable = true;
    EXPECT_EQ(storage.readValue(QStringLiteral("cbaal")).answer, StoredValue::Answer::unavailable);
}

TEST_F(StorageTest, WritesOfBothEnginesReportWhetherTheyTookEffect) {
    KeyValueStorage keychain;
    KeyValueStorage userDefaults(KeyValueStorageType::userDefaults);
    EXPECT_TRUE(keychain.setValue(QStringLiteral("Active"), QStringLiteral("1")));
    EXPECT_TRUE(keychain.removeValue(QStringLiteral("never")));  // absent afterwards
    EXPECT_TRUE(userDefaults.setValue(QStringLiteral("cbaal"), QStringLiteral("x")));
    EXPECT_TRUE(userDefaults.removeValue(QStringLiteral("cbaal")));
    secrets->refuseWrites = true;
    defaults->refuseWrites = true;
    EXPECT_FALSE(keychain.setValue(QStringLiteral("Active"), QStringLiteral("0")));
    EXPECT_FALSE(keychain.removeValue(QStringLiteral("Active")));
    EXPECT_FALSE(userDefaults.setValue(QStringLiteral("cbaal"), QStringLiteral("y")));
    EXPECT_FALSE(userDefaults.removeValue(QStringLiteral("cbaal")));
}

TEST_F(StorageTest, RemovingAnAbsentKeyIsHarmless) {
    KeyValueStorage().removeValue(QStringLiteral("never"));
    KeyValueStorage(KeyValueStorageType::userDefaults).removeValue(QStringLiteral("never"));
    EXPECT_TRUE(secrets->items.empty());
}

TEST_F(StorageTest, DefaultsEntriesThatAreNotTextReadAsEmpty) {
    defaults->values.insert(QStringLiteral("number"), 3);
    defaults->values.insert(QStringLiteral("list"), QJsonArray{1, 2});
    KeyValueStorage storage(KeyValueStorageType::userDefaults);
    EXPECT_EQ(storage.getValue(QStringLiteral("number")), QString());
    EXPECT_EQ(storage.getValue(QStringLiteral("list")), QString());
}

TEST_F(StorageTest, DefaultsWritesAreSynchronizedEachTime) {
    KeyValueStorage storage(KeyValueStorageType::userDefaults);
    storage.setValue(QStringLiteral("cbaal"), QStringLiteral("org.example.Editor"));
    storage.removeValue(QStringLiteral("cbaal"));
    EXPECT_EQ(defaults->synchronizeCount, 2);
    EXPECT_FALSE(defaults->values.contains(QStringLiteral("cbaal")));
}

TEST_F(StorageTest, EmptyTextReadsLikeAbsent) {
    KeyValueStorage storage(KeyValueStorageType::userDefaults);
    storage.setValue(QStringLiteral("cbaal"), QString());
    EXPECT_EQ(storage.getValue(QStringLiteral("cbaal")), QString());
}

}  // namespace
