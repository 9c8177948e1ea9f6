// The single owner of the user's settings: the locked applications, the unlock password and the
// three switches, stored as text in the keychain, with change handlers told after every write.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "locking/ApplicationEntity.h"
#include "storage/IKeyValueStorage.h"

class ConfigurationAndPreferencesService {
  public:
    using ChangeHandler = std::function<void()>;

    // A fresh service over a keychain storage, without handlers. The program uses sharedInstance.
    ConfigurationAndPreferencesService();
    // Over a storage of the caller's choice (tests).
    explicit ConfigurationAndPreferencesService(std::unique_ptr<IKeyValueStorage> storage);

    // The process-wide instance, created on first use.
    static ConfigurationAndPreferencesService& sharedInstance();

    // Handlers run synchronously, in registration order, after every setter and list write.
    void addOnConfigurationChangeEvent(ChangeHandler handler);

    QStringList getLockedApplicationsBundleIds();
    void addLockedApplicationBundleId(const QString& bundleIdentifier);
    void removeLockedApplicationBundleId(const QString& bundleIdentifier);
    // The locked identifiers that are installed, sorted by name (case-sensitive).
    std::vector<ApplicationEntity> getLockedApplications();

    bool hasPassword();
    QString getApplicationPassword();
    void setApplicationPassword(const QString& password);
    // (valid, message): the first failing test's message, or (true, "").
    std::pair<bool, QString> validateApplicationPassword(const QString& password,
                                                         const QString& confirmation);

    bool getApplicationIsActive();
    void setApplicationIsActive(bool active);
    bool getStartAtLogin();
    void setStartAtLogin(bool startAtLogin);
    bool getLockAdministrativeApplications();
    void setLockAdministrativeApplications(bool lock);

    // The list's stored text: each identifier followed by ";". Pieces are trimmed when decoded
    // and empty ones dropped.
    static QString encodeList(const QStringList& bundleIdentifiers);
    static QStringList decodeList(const QString& stored);

  private:
    void writeLockedList(const QStringList& bundleIdentifiers);
    void setSwitch(const QString& key, bool on);
    void notify();

    std::unique_ptr<IKeyValueStorage> keyValueStorage;
    std::vector<ChangeHandler> configurationChangeEventHandlers;
};

// Text equality as users see it: canonically equivalent texts (a precomposed letter and the
// same letter with a combining accent) are equal; everything else compares exactly.
bool canonicallyEqual(const QString& first, const QString& second);
// The number of user-perceived characters (grapheme clusters) of the text.
int userPerceivedLength(const QString& text);
