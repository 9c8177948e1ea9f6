// The configuration service over an in-memory secret store: list encoding, switch defaults,
// password validation and change notification.
#include <gtest/gtest.h>

#include <thread>

#include "platform/testing/Doubles.h"
#include "platform/testing/FakeWorkspace.h"
#include "storage/ConfigurationAndPreferencesService.h"
#include "storage/KeyValueKeychainStorage.h"

using platform::testing::FakeSecretStore;
using platform::testing::FakeWorkspace;
using platform::testing::InMemoryUserDefaults;

namespace {

class ConfigurationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::testing::installMainBundle(QStringLiteral("org.vaultine.Vaultine"));
        auto store = std::make_unique<FakeSecretStore>();
        secrets = store.get();
        platform::SecretStore::install(std::move(store));
        auto fakeWorkspace = std::make_unique<FakeWorkspace>();
        workspace = fakeWorkspace.get();
        platform::Workspace::install(std::move(fakeWorkspace));
        auto userDefaults = std::make_unique<InMemoryUserDefaults>();
        defaults = userDefaults.get();
        platform::UserDefaults::install(std::move(userDefaults));
    }

    QString stored(const QString& key) {
        const auto found = secrets->items.find(KeyValueKeychainStorage::accountName(key));
        return found == secrets->items.end() ? QStringLiteral("<absent>")
                                             : QString::fromUtf8(found->second);
    }
    void store(const QString& key, const QByteArray& value) {
        secrets->items[KeyValueKeychainStorage::accountName(key)] = value;
    }

    FakeSecretStore* secrets = nullptr;
    FakeWorkspace* workspace = nullptr;
    InMemoryUserDefaults* defaults = nullptr;
    ConfigurationAndPreferencesService service;
};

TEST_F(ConfigurationTest, DecodesListTrimmingAndDroppingEmptyPieces) {
    store(QStringLiteral("Applications"), "a;b;");
    EXPECT_EQ(service.getLockedApplicationsBundleIds(), (QStringList{"a", "b"}));
    EXPECT_EQ(ConfigurationAndPreferencesService::decodeList(QStringLiteral(" a ;;b\n;")),
              (QStringList{"a", "b"}));
    EXPECT_TRUE(ConfigurationAndPreferencesService::decodeList(QString()).isEmpty());
}

TEST_F(ConfigurationTest, AddingStoresEachIdentifierOnceWithSeparator) {
    service.addLockedApplicationBundleId(QStringLiteral("x"));
    EXPECT_EQ(stored(QStringLiteral("Applications")), QStringLiteral("x;"));
    service.addLockedApplicationBundleId(QStringLiteral("x"));
    EXPECT_EQ(stored(QStringLiteral("Applications")), QStringLiteral("x;"));
}

TEST_F(ConfigurationTest, RemovingIsCaseSensitiveAndTheLastLeavesTheEmptyText) {
    service.addLockedApplicationBundleId(QStringLiteral("org.example.Editor"));
    service.removeLockedApplicationBundleId(QStringLiteral("org.example.editor"));
    EXPECT_EQ(service.getLockedApplicationsBundleIds(), QStringList{"org.example.Editor"});
    service.removeLockedApplicationBundleId(QStringLiteral("org.example.Editor"));
    EXPECT_EQ(stored(QStringLiteral("Applications")), QString());
    EXPECT_TRUE(service.getLockedApplicationsBundleIds().isEmpty());
}

TEST_F(ConfigurationTest, RemovingDropsEveryOccurrence) {
    store(QStringLiteral("Applications"), "a;b;a;");
    service.removeLockedApplicationBundleId(QStringLiteral("a"));
    EXPECT_EQ(service.getLockedApplicationsBundleIds(), QStringList{"b"});
}

TEST_F(ConfigurationTest, LockedApplicationsAreInstalledOnesSortedCaseSensitively) {
    workspace->installApplication(QStringLiteral("/apps/c.desktop"), {"c", "chess", "chess"});
    workspace->installApplication(QStringLiteral("/apps/z.desktop"), {"z", "Zebra", "zebra"});
    store(QStringLiteral("Applications"), "c;gone;z;");
    const auto applications = service.getLockedApplications();
    ASSERT_EQ(applications.size(), 2u);
    EXPECT_EQ(applications[0].name, QStringLiteral("Zebra"));
    EXPECT_EQ(applications[1].name, QStringLiteral("chess"));
    EXPECT_EQ(service.getLockedApplicationsBundleIds().size(), 3);
}

TEST_F(ConfigurationTest, SwitchesReadTheirDefaultsWhenAbsent) {
    EXPECT_TRUE(service.getApplicationIsActive());
    EXPECT_TRUE(service.getLockAdministrativeApplications());
    EXPECT_FALSE(service.getStartAtLogin());
    EXPECT_FALSE(service.hasPassword());
}

TEST_F(ConfigurationTest, SwitchesReadOffForAnyTextButOneOrEmpty) {
    // Each read by a service of its own: a service keeps what it read first.
    for (const auto& [text, on] : {std::pair{"0", false}, {"yes", false}, {"", true}}) {
        store(QStringLiteral("Active"), text);
        EXPECT_EQ(ConfigurationAndPreferencesService().getApplicationIsActive(), on) << text;
    }
    store(QStringLiteral("LoginStart"), "1");
    EXPECT_TRUE(service.getStartAtLogin());
    store(QStringLiteral("Administrative"), "0");
    EXPECT_FALSE(service.getLockAdministrativeApplications());
}

TEST_F(ConfigurationTest, SettersStoreOneOrZero) {
    service.setApplicationIsActive(false);
    service.setStartAtLogin(true);
    service.setLockAdministrativeApplications(false);
    EXPECT_EQ(stored(QStringLiteral("Active")), QStringLiteral("0"));
    EXPECT_EQ(stored(QStringLiteral("LoginStart")), QStringLiteral("1"));
    EXPECT_EQ(stored(QStringLiteral("Administrative")), QStringLiteral("0"));
}

TEST_F(ConfigurationTest, PasswordIsStoredVerbatim) {
    service.setApplicationPassword(QStringLiteral(" pa ss "));
    EXPECT_EQ(service.getApplicationPassword(), QStringLiteral(" pa ss "));
    EXPECT_TRUE(service.hasPassword());
}

TEST_F(ConfigurationTest, RefusedPasswordWriteKeepsThePreviousPassword) {
    service.setApplicationPassword(QStringLiteral("first"));
    secrets->refuseWrites = true;
    EXPECT_FALSE(service.setApplicationPassword(QStringLiteral("second")));
    EXPECT_EQ(service.getApplicationPassword(), QStringLiteral("first"));
}

TEST_F(ConfigurationTest, EveryWriterReportsWhetherTheKeyringKeptTheValue) {
    int notified = 0;
    service.addOnConfigurationChangeEvent([&] { ++notified; });
    EXPECT_TRUE(service.addLockedApplicationBundleId(QStringLiteral("a")));
    EXPECT_TRUE(service.setApplicationIsActive(false));
    secrets->refuseWrites = true;
    EXPECT_FALSE(service.addLockedApplicationBundleId(QStringLiteral("b")));
    EXPECT_FALSE(service.removeLockedApplicationBundleId(QStringLiteral("a")));
    EXPECT_FALSE(service.setApplicationIsActive(true));
    EXPECT_FALSE(service.setStartAtLogin(true));
    EXPECT_FALSE(service.setLockAdministrativeApplications(false));
    EXPECT_FALSE(service.setApplicationPassword(QStringLiteral("secret")));
    EXPECT_EQ(notified, 8);  // handlers are told of refused writes too
}

TEST_F(ConfigurationTest, PasswordAnswerTellsNoPasswordFromAKeyringThatDidNotAnswer) {
    using Answer = ConfigurationAndPreferencesService::PasswordAnswer;
    EXPECT_EQ(service.passwordAnswer(), Answer::none);
    service.setApplicationPassword(QStringLiteral("secret"));
    EXPECT_EQ(service.passwordAnswer(), Answer::stored);
    defaults->values = {};
    secrets->unreachable = true;
    ConfigurationAndPreferencesService fresh;
    EXPECT_EQ(fresh.passwordAnswer(), Answer::unavailable);
    EXPECT_FALSE(fresh.hasPassword());
    EXPECT_FALSE(fresh.readProtectionSettings());
    EXPECT_TRUE(fresh.getApplicationIsActive());
}

// What Vaultine read it keeps: another program's deletion, replacement or unreadable bytes are
// written back, and a keyring that goes silent changes nothing.
TEST_F(ConfigurationTest, WhatWasReadIsKeptAndWrittenBackWhenChangedOutside) {
    using Answer = ConfigurationAndPreferencesService::PasswordAnswer;
    service.addLockedApplicationBundleId(QStringLiteral("a"));
    service.setApplicationPassword(QStringLiteral("secret"));
    service.setLockAdministrativeApplications(false);
    secrets->items.erase(KeyValueKeychainStorage::accountName(QStringLiteral("Password")));
    store(QStringLiteral("Applications"), "\xff\xfe");
    store(QStringLiteral("Administrative"), "1");

    const auto settings = service.readProtectionSettings();
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->lockedBundleIds, QStringList{QStringLiteral("a")});
    EXPECT_EQ(settings->password, QStringLiteral("secret"));
    EXPECT_FALSE(settings->lockAdministrativeApplications);
    EXPECT_EQ(stored(QStringLiteral("Password")), QStringLiteral("secret"));
    EXPECT_EQ(stored(QStringLiteral("Applications")), QStringLiteral("a;"));
    EXPECT_EQ(stored(QStringLiteral("Administrative")), QStringLiteral("0"));

    secrets->unreachable = true;
    EXPECT_EQ(service.passwordAnswer(), Answer::stored);
    EXPECT_EQ(service.readProtectionSettings()->password, QStringLiteral("secret"));
}

// A later start whose keyring is locked, or lost the password, protects from the defaults' copy,
// which holds no secret and can only keep protection up (its switches read as on); only a store
// that truly holds no password is a first run.
TEST_F(ConfigurationTest, AStartThatCannotReadThePasswordProtectsFromTheCopy) {
    using Answer = ConfigurationAndPreferencesService::PasswordAnswer;
    service.addLockedApplicationBundleId(QStringLiteral("a"));
    service.setApplicationPassword(QStringLiteral("secret"));
    service.setApplicationIsActive(true);
    service.setLockAdministrativeApplications(false);
    const QString copy = defaults->values.value(QStringLiteral("Protection")).toString();
    EXPECT_FALSE(copy.contains(QStringLiteral("secret"))) << qPrintable(copy);

    for (const auto keyring : {"locked", "lost", "garbled"}) {
        SCOPED_TRACE(keyring);
        secrets->unreachable = keyring == std::string("locked");
        if (keyring == std::string("lost"))
            secrets->items.erase(KeyValueKeychainStorage::accountName(QStringLiteral("Password")));
        if (keyring == std::string("garbled"))
            store(QStringLiteral("Password"), "\xff");
        ConfigurationAndPreferencesService restarted;
        const auto settings = restarted.readProtectionSettings();
        ASSERT_TRUE(settings);
        EXPECT_TRUE(settings->passwordStored);
        EXPECT_TRUE(settings->password.isEmpty());
        EXPECT_EQ(settings->lockedBundleIds, QStringList{QStringLiteral("a")});
        // Read from the keyring where it answers; the copy's "off" is not believed.
        EXPECT_EQ(settings->lockAdministrativeApplications, keyring == std::string("locked"));
        EXPECT_EQ(restarted.passwordAnswer(), Answer::unavailable);
    }

    // A password item written after the keyring lost the password is someone else's.
    secrets->unreachable = false;
    store(QStringLiteral("Password"), "intruder");
    EXPECT_EQ(ConfigurationAndPreferencesService().passwordAnswer(), Answer::unavailable);

    secrets->items.clear();
    defaults->values = {};
    const auto firstRun = ConfigurationAndPreferencesService().readProtectionSettings();
    ASSERT_TRUE(firstRun);
    EXPECT_FALSE(firstRun->passwordStored);
}

TEST_F(ConfigurationTest, EveryWriteNotifiesEachHandlerOnceInOrder) {
    QStringList calls;
    service.addOnConfigurationChangeEvent([&] { calls << QStringLiteral("first"); });
    service.addOnConfigurationChangeEvent([&] { calls << QStringLiteral("second"); });
    service.setApplicationIsActive(true);
    service.setApplicationIsActive(true);  // unchanged value: still notifies
    service.setStartAtLogin(false);
    service.setLockAdministrativeApplications(true);
    service.setApplicationPassword(QStringLiteral("abc"));
    service.addLockedApplicationBundleId(QStringLiteral("a"));
    service.removeLockedApplicationBundleId(QStringLiteral("missing"));
    EXPECT_EQ(calls.size(), 14);
    for (int i = 0; i < calls.size(); i += 2) {
        EXPECT_EQ(calls[i], QStringLiteral("first"));
        EXPECT_EQ(calls[i + 1], QStringLiteral("second"));
    }
}

TEST_F(ConfigurationTest, GettersNeverNotify) {
    int calls = 0;
    service.addOnConfigurationChangeEvent([&] { ++calls; });
    service.getApplicationIsActive();
    service.getLockedApplications();
    service.hasPassword();
    EXPECT_EQ(calls, 0);
}

TEST_F(ConfigurationTest, HandlerThatWritesReentersNotification) {
    int outer = 0;
    int inner = 0;
    service.addOnConfigurationChangeEvent([&] {
        if (++outer == 1)
            service.setApplicationIsActive(false);
    });
    service.addOnConfigurationChangeEvent([&] { ++inner; });
    service.setApplicationIsActive(true);
    EXPECT_EQ(outer, 2);
    EXPECT_EQ(inner, 2);
    EXPECT_FALSE(service.getApplicationIsActive());
}

TEST_F(ConfigurationTest, HandlerRegisteringAnotherHandlerIsSafe) {
    int late = 0;
    bool registered = false;
    service.addOnConfigurationChangeEvent([&] {
        if (registered)
            return;
        registered = true;
        for (int i = 0; i < 64; ++i)
            service.addOnConfigurationChangeEvent([&] { ++late; });
    });
    service.setStartAtLogin(true);
    service.setStartAtLogin(true);
    EXPECT_EQ(late, 128);
}

TEST(PasswordValidation, MessagesComeInOrderOfTheTests) {
    ConfigurationAndPreferencesService service(nullptr);
    EXPECT_EQ(service.validateApplicationPassword(QString(), QStringLiteral("abc")),
              std::make_pair(false, QStringLiteral("The password cannot be empty")));
    EXPECT_EQ(
        service.validateApplicationPassword(QStringLiteral("ab"), QStringLiteral("xy")),
        std::make_pair(false, QStringLiteral("The password cannot be smaller than 3 characters")));
    EXPECT_EQ(service.validateApplicationPassword(QStringLiteral("abc"), QStringLiteral("abd")),
              std::make_pair(false, QStringLiteral("The passwords do not match")));
    EXPECT_EQ(service.validateApplicationPassword(QStringLiteral("abc"), QStringLiteral("abc")),
              std::make_pair(true, QString()));
    EXPECT_TRUE(
        service.validateApplicationPassword(QStringLiteral("   "), QStringLiteral("   ")).first);
}

TEST(PasswordValidation, CountsUserPerceivedCharacters) {
    ConfigurationAndPreferencesService service(nullptr);
    // Two flags of two code points each, and an accented letter written with a combining mark.
    const QString flags = QString::fromUtf8("\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7");
    EXPECT_FALSE(service.validateApplicationPassword(flags, flags).first);
    const QString combining = QString::fromUtf8("ae\u0301");
    EXPECT_FALSE(service.validateApplicationPassword(combining, combining).first);
    const QString three = QString::fromUtf8("\U0001F600\U0001F600\U0001F600");
    EXPECT_TRUE(service.validateApplicationPassword(three, three).first);
}

TEST(PasswordValidation, CanonicallyEquivalentConfirmationMatches) {
    ConfigurationAndPreferencesService service(nullptr);
    const QString precomposed = QString::fromUtf8("caf\u00e9");
    const QString decomposed = QString::fromUtf8("cafe\u0301");
    EXPECT_TRUE(service.validateApplicationPassword(precomposed, decomposed).first);
    EXPECT_TRUE(canonicallyEqual(precomposed, decomposed));
    EXPECT_FALSE(canonicallyEqual(QStringLiteral("Secret"), QStringLiteral("secret")));
    EXPECT_FALSE(canonicallyEqual(QStringLiteral("secret"), QStringLiteral("secret ")));
}

TEST(SharedConfiguration, ConcurrentFirstAccessGivesOneInstance) {
    platform::SecretStore::install(std::make_unique<FakeSecretStore>());
    std::vector<ConfigurationAndPreferencesService*> seen(8);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back(
            [&seen, i] { seen[i] = &ConfigurationAndPreferencesService::sharedInstance(); });
    }
    for (auto& thread : threads)
        thread.join();
    for (auto* instance : seen)
        EXPECT_EQ(instance, seen[0]);
}

}  // namespace
