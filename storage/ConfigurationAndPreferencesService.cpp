// Encoding, validation and change notification of the user's settings.
#include "storage/ConfigurationAndPreferencesService.h"

#include <QJsonDocument>
#include <QTextBoundaryFinder>
#include <algorithm>
#include <cstdio>

#include "platform/PairProtocol.h"
#include "platform/SecretStore.h"
#include "storage/KeyConstants.h"
#include "storage/KeyValueStorage.h"

namespace {
const QString SEPARATOR = QStringLiteral(";");
const QString ON = QStringLiteral("1");
const QString OFF = QStringLiteral("0");

// The keys Vaultine keeps and copies; the password is kept but only its existence is copied.
const QStringList COPIED_KEYS{
    KeyConstants::APPLICATIONS_KEY, KeyConstants::APPLICATION_IS_ACTIVE_KEY,
    KeyConstants::LOCK_ADMINISTRATIVE_APPS_KEY, KeyConstants::START_AT_LOGIN_KEY};
const QString COPY_PASSWORD_STORED = QStringLiteral("PasswordStored");
// The keyring once answered "no password" while one was stored: whatever password item appears
// afterwards was written by someone who did not know the old one, and is never taken.
const QString COPY_PASSWORD_LOST = QStringLiteral("PasswordLost");

StoredValue keptValue(const QString& text) {
    return {text.isEmpty() ? StoredValue::Answer::absent : StoredValue::Answer::present, text};
}
}  // namespace

bool canonicallyEqual(const QString& first, const QString& second) {
    return first == second || first.normalized(QString::NormalizationForm_D) ==
                                  second.normalized(QString::NormalizationForm_D);
}

int userPerceivedLength(const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

ConfigurationAndPreferencesService::ConfigurationAndPreferencesService()
    : ConfigurationAndPreferencesService(std::make_unique<KeyValueStorage>()) {}

ConfigurationAndPreferencesService::ConfigurationAndPreferencesService(
    std::unique_ptr<IKeyValueStorage> storage)
    : keyValueStorage(std::move(storage)) {}

ConfigurationAndPreferencesService& ConfigurationAndPreferencesService::sharedInstance() {
    // Function-local statics are initialised exactly once, even under concurrent first access.
    static ConfigurationAndPreferencesService instance;
    return instance;
}

void ConfigurationAndPreferencesService::addOnConfigurationChangeEvent(ChangeHandler handler) {
    configurationChangeEventHandlers.push_back(std::move(handler));
}

void ConfigurationAndPreferencesService::addOnKeyringAvailabilityEvent(ChangeHandler handler) {
    platform::SecretStore::shared().addAvailabilityObserver(std::move(handler));
}

QString ConfigurationAndPreferencesService::encodeList(const QStringList& bundleIdentifiers) {
    QString stored;
    for (const QString& identifier : bundleIdentifiers)
        stored += identifier + SEPARATOR;
    return stored;
}

QStringList ConfigurationAndPreferencesService::decodeList(const QString& stored) {
    QStringList identifiers;
    for (const QString& piece : stored.split(SEPARATOR)) {
        const QString trimmed = piece.trimmed();
        if (!trimmed.isEmpty())
            identifiers.append(trimmed);
    }
    return identifiers;
}

void ConfigurationAndPreferencesService::forgetKeptValues() {
    const std::lock_guard lock(keptMutex);
    kept.clear();
}

StoredValue ConfigurationAndPreferencesService::read(const QString& key) {
    const StoredValue stored = keyValueStorage->readValue(key);
    const std::lock_guard lock(keptMutex);
    if (const auto found = kept.find(key); found != kept.end()) {
        if (stored.answered() && stored.text != found->second)
            writeBack(key, found->second);
        return keptValue(found->second);
    }
    const std::optional<QJsonObject> copy = readProtectionCopy();
    const bool copySaysPassword = copy && copy->value(COPY_PASSWORD_STORED).toBool();
    // A password the copy says exists is not taken as gone because the keyring lost it: it is
    // unknown, and no text opens a lock until the keyring gives it again.
    const bool isPassword = key == KeyConstants::APPLICATION_PASSWORD_KEY;
    const bool lostPassword =
        isPassword && stored.answered() && stored.text.isEmpty() && copySaysPassword;
    if (lostPassword && !copy->value(COPY_PASSWORD_LOST).toBool()) {
        QJsonObject marked = *copy;
        marked[COPY_PASSWORD_LOST] = true;
        saveProtectionCopy(marked);
    }
    const bool distrusted = isPassword && copy && copy->value(COPY_PASSWORD_LOST).toBool();
    if (stored.answered() && !lostPassword && !distrusted) {
        kept[key] = stored.text;
        saveProtectionCopy();
        return stored;
    }
    // A copy answers for every key but the password, which it does not hold; a key it lacks
    // reads as absent (a switch on by default). The copy is a file of the user's: it can keep
    // protection up, never take it down, so the protection switches read from it are on.
    if (!copy || key == KeyConstants::APPLICATION_PASSWORD_KEY)
        return {StoredValue::Answer::unavailable, {}};
    const bool protectionSwitch = key == KeyConstants::APPLICATION_IS_ACTIVE_KEY ||
                                  key == KeyConstants::LOCK_ADMINISTRATIVE_APPS_KEY;
    return keptValue(protectionSwitch ? ON : copy->value(key).toString());
}

bool ConfigurationAndPreferencesService::write(const QString& key, const QString& value) {
    const bool stored = value.isEmpty() && key == KeyConstants::APPLICATION_PASSWORD_KEY
                            ? keyValueStorage->removeValue(key)
                            : keyValueStorage->setValue(key, value);
    if (stored) {
        const std::lock_guard lock(keptMutex);
        kept[key] = value;
        saveProtectionCopy();
    }
    return stored;
}

void ConfigurationAndPreferencesService::writeBack(const QString& key, const QString& value) {
    std::printf("%s\n", qUtf8Printable(WRITTEN_BACK_LINE.arg(key)));
    std::fflush(stdout);
    if (value.isEmpty())
        keyValueStorage->removeValue(key);
    else
        keyValueStorage->setValue(key, value);
}

std::optional<QJsonObject> ConfigurationAndPreferencesService::readProtectionCopy() {
    const StoredValue stored =
        KeyValueStorage(KeyValueStorageType::userDefaults).readValue(PROTECTION_COPY_KEY);
    const QJsonDocument document = QJsonDocument::fromJson(stored.text.toUtf8());
    if (stored.answer == StoredValue::Answer::present && document.isObject())
        return document.object();
    // Corvane runs only once protection was set up: a Vaultine it started whose copy is gone
    // protects with the switches' defaults rather than take the silence for a first run.
    if (platform::PairProtocol::launchedWith(platform::PairProtocol::RESTARTED_FROM_HELPER_KEY))
        return QJsonObject{{KeyConstants::APPLICATIONS_KEY, QString()},
                           {KeyConstants::APPLICATION_IS_ACTIVE_KEY, ON},
                           {KeyConstants::LOCK_ADMINISTRATIVE_APPS_KEY, ON},
                           {KeyConstants::START_AT_LOGIN_KEY, ON},
                           {COPY_PASSWORD_STORED, true}};
    return std::nullopt;
}

// The copy is made of what is kept, the copy's own values standing in for keys not read yet.
void ConfigurationAndPreferencesService::saveProtectionCopy(std::optional<QJsonObject> base) {
    const std::optional<QJsonObject> previous = readProtectionCopy();
    QJsonObject copy = base ? *base : previous.value_or(QJsonObject());
    for (const QString& key : COPIED_KEYS) {
        if (const auto found = kept.find(key); found != kept.end())
            copy[key] = found->second;
    }
    if (const auto found = kept.find(KeyConstants::APPLICATION_PASSWORD_KEY); found != kept.end()) {
        copy[COPY_PASSWORD_STORED] = !found->second.isEmpty();
        copy.remove(COPY_PASSWORD_LOST);
    }
    if (copy == previous)
        return;
    KeyValueStorage(KeyValueStorageType::userDefaults)
        .setValue(PROTECTION_COPY_KEY,
                  QString::fromUtf8(QJsonDocument(copy).toJson(QJsonDocument::Compact)));
}

QStringList ConfigurationAndPreferencesService::getLockedApplicationsBundleIds() {
    return decodeList(read(KeyConstants::APPLICATIONS_KEY).text);
}

bool ConfigurationAndPreferencesService::addLockedApplicationBundleId(
    const QString& bundleIdentifier) {
    QStringList identifiers = getLockedApplicationsBundleIds();
    identifiers.append(bundleIdentifier);
    // Stored as a set: each identifier once. The stored order carries no meaning.
    identifiers.removeDuplicates();
    return writeLockedList(identifiers);
}

bool ConfigurationAndPreferencesService::removeLockedApplicationBundleId(
    const QString& bundleIdentifier) {
    QStringList identifiers = getLockedApplicationsBundleIds();
    identifiers.removeAll(bundleIdentifier);
    return writeLockedList(identifiers);
}

bool ConfigurationAndPreferencesService::writeLockedList(const QStringList& bundleIdentifiers) {
    const bool stored = write(KeyConstants::APPLICATIONS_KEY, encodeList(bundleIdentifiers));
    notify();
    return stored;
}

std::vector<ApplicationEntity> ConfigurationAndPreferencesService::getLockedApplications() {
    return resolveApplications(getLockedApplicationsBundleIds());
}

std::vector<ApplicationEntity> ConfigurationAndPreferencesService::resolveApplications(
    const QStringList& bundleIdentifiers) {
    std::vector<ApplicationEntity> applications;
    for (const QString& identifier : bundleIdentifiers) {
        if (auto entity = ApplicationEntity::fromBundleIdentifier(identifier)) {
            applications.push_back(std::move(*entity));
        }
    }
    std::stable_sort(
        applications.begin(), applications.end(),
        [](const ApplicationEntity& a, const ApplicationEntity& b) { return a.name < b.name; });
    return applications;
}

bool ConfigurationAndPreferencesService::hasPassword() {
    return !getApplicationPassword().isEmpty();
}

ConfigurationAndPreferencesService::PasswordAnswer
ConfigurationAndPreferencesService::passwordAnswer() {
    const StoredValue stored = read(KeyConstants::APPLICATION_PASSWORD_KEY);
    if (!stored.answered())
        return PasswordAnswer::unavailable;
    return stored.text.isEmpty() ? PasswordAnswer::none : PasswordAnswer::stored;
}

QString ConfigurationAndPreferencesService::getApplicationPassword() {
    return read(KeyConstants::APPLICATION_PASSWORD_KEY).text;
}

bool ConfigurationAndPreferencesService::setApplicationPassword(const QString& password) {
    const bool stored = write(KeyConstants::APPLICATION_PASSWORD_KEY, password);
    notify();
    return stored;
}

std::optional<ConfigurationAndPreferencesService::ProtectionSettings>
ConfigurationAndPreferencesService::readProtectionSettings() {
    const StoredValue list = read(KeyConstants::APPLICATIONS_KEY);
    const StoredValue password = read(KeyConstants::APPLICATION_PASSWORD_KEY);
    const StoredValue active = read(KeyConstants::APPLICATION_IS_ACTIVE_KEY);
    const StoredValue administrative = read(KeyConstants::LOCK_ADMINISTRATIVE_APPS_KEY);
    // The login switch is read so that it is kept and copied like the others.
    read(KeyConstants::START_AT_LOGIN_KEY);
    for (const StoredValue* value : {&list, &active, &administrative}) {
        if (!value->answered())
            return std::nullopt;
    }
    const std::optional<QJsonObject> copy = readProtectionCopy();
    const bool passwordStored = password.answered()
                                    ? !password.text.isEmpty()
                                    : copy && copy->value(COPY_PASSWORD_STORED).toBool();
    if (!password.answered() && !passwordStored)
        return std::nullopt;
    return ProtectionSettings{decodeList(list.text), password.text, switchOnByDefault(active.text),
                              switchOnByDefault(administrative.text), passwordStored};
}

std::pair<bool, QString> ConfigurationAndPreferencesService::validateApplicationPassword(
    const QString& password, const QString& confirmation) {
    const int length = userPerceivedLength(password);
    if (length == 0)
        return {false, QStringLiteral("The password cannot be empty")};
    if (length < 3) {
        return {false, QStringLiteral("The password cannot be smaller than 3 characters")};
    }
    if (!canonicallyEqual(password, confirmation)) {
        return {false, QStringLiteral("The passwords do not match")};
    }
    return {true, QString()};
}

bool ConfigurationAndPreferencesService::switchOnByDefault(const QString& stored) {
    return stored == ON || stored.isEmpty();
}

bool ConfigurationAndPreferencesService::getApplicationIsActive() {
    return switchOnByDefault(read(KeyConstants::APPLICATION_IS_ACTIVE_KEY).text);
}

bool ConfigurationAndPreferencesService::setApplicationIsActive(bool active) {
    return setSwitch(KeyConstants::APPLICATION_IS_ACTIVE_KEY, active);
}

bool ConfigurationAndPreferencesService::getStartAtLogin() {
    return read(KeyConstants::START_AT_LOGIN_KEY).text == ON;
}

bool ConfigurationAndPreferencesService::setStartAtLogin(bool startAtLogin) {
    return setSwitch(KeyConstants::START_AT_LOGIN_KEY, startAtLogin);
}

bool ConfigurationAndPreferencesService::getLockAdministrativeApplications() {
    return switchOnByDefault(read(KeyConstants::LOCK_ADMINISTRATIVE_APPS_KEY).text);
}

bool ConfigurationAndPreferencesService::setLockAdministrativeApplications(bool lock) {
    return setSwitch(KeyConstants::LOCK_ADMINISTRATIVE_APPS_KEY, lock);
}

bool ConfigurationAndPreferencesService::setSwitch(const QString& key, bool on) {
    const bool stored = write(key, on ? ON : OFF);
    notify();
    return stored;
}

void ConfigurationAndPreferencesService::notify() {
    // By index: a handler may register another handler, which then runs in this round too.
    for (std::size_t i = 0; i < configurationChangeEventHandlers.size(); ++i) {
        // Copy: appending may reallocate the list under the running handler.
        const ChangeHandler handler = configurationChangeEventHandlers[i];
        if (handler)
            handler();
    }
}
