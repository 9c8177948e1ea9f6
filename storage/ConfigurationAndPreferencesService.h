// The single owner of the user's settings: the locked applications, the unlock password and the
// three switches, stored as text in the keychain, with change handlers told after every write.
#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "core/ApplicationEntity.h"
#include "storage/IKeyValueStorage.h"

// Writers report whether the value took effect in the keychain (handlers are told either way);
// the reads that decide between the first-run path and protection tell a keyring that answered
// "nothing stored" from one that did not answer.
//
// What Vaultine read or wrote, it keeps: a protected value that later reads otherwise (deleted,
// replaced, made unreadable by another program) is written back, and reads give what is kept. The
// user defaults hold a copy of the protection state without the password (the list, the switches,
// that a password exists), so that a keyring that is locked, silent or has lost the password at
// start never lowers protection: the copy stands in, and the password stays unknown (no text
// opens a lock) until the keyring gives it.
class ConfigurationAndPreferencesService {
  public:
    using ChangeHandler = std::function<void()>;

    // What the keyring answered for the password.
    enum class PasswordAnswer { none, stored, unavailable };

    // The settings protection runs on, read together.
    struct ProtectionSettings {
        QStringList lockedBundleIds;
        QString password;
        bool applicationIsActive = true;
        bool lockAdministrativeApplications = true;
        // A password exists; `password` is empty while the keyring cannot give it.
        bool passwordStored = false;
    };

    // The user-defaults key of the copy, and the line printed when a value is written back.
    static inline const QString PROTECTION_COPY_KEY = QStringLiteral("Protection");
    static inline const QString WRITTEN_BACK_LINE =
        QStringLiteral("The keyring's %1 changed outside Vaultine: written back");

    // A fresh service over a keychain storage, without handlers. The program uses sharedInstance.
    ConfigurationAndPreferencesService();
    // Over a storage of the caller's choice (tests).
    explicit ConfigurationAndPreferencesService(std::unique_ptr<IKeyValueStorage> storage);

    // The process-wide instance, created on first use.
    static ConfigurationAndPreferencesService& sharedInstance();
    // Drops what was kept, for a new store behind the shared instance (tests install one each).
    void forgetKeptValues();

    // Handlers run synchronously, in registration order, after every setter and list write.
    void addOnConfigurationChangeEvent(ChangeHandler handler);
    // The handler runs on the main thread when a keyring that did not answer may answer again
    // (it was unlocked, it appeared, or a few seconds passed); it re-reads what it needs.
    void addOnKeyringAvailabilityEvent(ChangeHandler handler);

    QStringList getLockedApplicationsBundleIds();
    bool addLockedApplicationBundleId(const QString& bundleIdentifier);
    bool removeLockedApplicationBundleId(const QString& bundleIdentifier);
    // The locked identifiers that are installed, sorted by name (case-sensitive).
    std::vector<ApplicationEntity> getLockedApplications();
    static std::vector<ApplicationEntity> resolveApplications(const QStringList& bundleIdentifiers);

    bool hasPassword();
    PasswordAnswer passwordAnswer();
    QString getApplicationPassword();
    bool setApplicationPassword(const QString& password);
    // Every setting protection needs, from what is kept, the keyring or the copy; none when
    // neither the keyring nor the copy tells them.
    std::optional<ProtectionSettings> readProtectionSettings();
    // (valid, message): the first failing test's message, or (true, "").
    std::pair<bool, QString> validateApplicationPassword(const QString& password,
                                                         const QString& confirmation);

    bool getApplicationIsActive();
    bool setApplicationIsActive(bool active);
    bool getStartAtLogin();
    bool setStartAtLogin(bool startAtLogin);
    bool getLockAdministrativeApplications();
    bool setLockAdministrativeApplications(bool lock);

    // The list's stored text: each identifier followed by ";". Pieces are trimmed when decoded
    // and empty ones dropped.
    static QString encodeList(const QStringList& bundleIdentifiers);
    static QStringList decodeList(const QString& stored);

  private:
    // A protected key read through what is kept (see the class comment).
    StoredValue read(const QString& key);
    // Writes the value; kept (and copied) only when it took effect.
    bool write(const QString& key, const QString& value);
    void writeBack(const QString& key, const QString& value);
    std::optional<QJsonObject> readProtectionCopy();
    void saveProtectionCopy(std::optional<QJsonObject> base = std::nullopt);
    bool writeLockedList(const QStringList& bundleIdentifiers);
    bool setSwitch(const QString& key, bool on);
    static bool switchOnByDefault(const QString& stored);
    void notify();

    std::unique_ptr<IKeyValueStorage> keyValueStorage;
    // The protected values as last read from the keyring or written to it; "" is "absent". Reads
    // may come from the thread pool.
    std::map<QString, QString> kept;
    std::recursive_mutex keptMutex;
    std::vector<ChangeHandler> configurationChangeEventHandlers;
};

// Text equality as users see it: canonically equivalent texts (a precomposed letter and the
// same letter with a combining accent) are equal; everything else compares exactly.
bool canonicallyEqual(const QString& first, const QString& second);
// The number of user-perceived characters (grapheme clusters) of the text.
int userPerceivedLength(const QString& text);
