// Encoding, validation and change notification of the user's settings.
#include "storage/ConfigurationAndPreferencesService.h"

#include <QTextBoundaryFinder>
#include <algorithm>

#include "platform/SecretStore.h"
#include "storage/KeyConstants.h"
#include "storage/KeyValueStorage.h"

namespace {
const QString SEPARATOR = QStringLiteral(";");
const QString ON = QStringLiteral("1");
const QString OFF = QStringLiteral("0");
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

QStringList ConfigurationAndPreferencesService::getLockedApplicationsBundleIds() {
    return decodeList(keyValueStorage->getValue(KeyConstants::APPLICATIONS_KEY));
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
    const bool stored =
        keyValueStorage->setValue(KeyConstants::APPLICATIONS_KEY, encodeList(bundleIdentifiers));
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
    const StoredValue stored = keyValueStorage->readValue(KeyConstants::APPLICATION_PASSWORD_KEY);
    if (!stored.answered())
        return PasswordAnswer::unavailable;
    return stored.text.isEmpty() ? PasswordAnswer::none : PasswordAnswer::stored;
}

QString ConfigurationAndPreferencesService::getApplicationPassword() {
    return keyValueStorage->getValue(KeyConstants::APPLICATION_PASSWORD_KEY);
}

bool ConfigurationAndPreferencesService::setApplicationPassword(const QString& password) {
    const bool stored = keyValueStorage->setValue(KeyConstants::APPLICATION_PASSWORD_KEY, password);
    notify();
    return stored;
}

std::optional<ConfigurationAndPreferencesService::ProtectionSettings>
ConfigurationAndPreferencesService::readProtectionSettings() {
    const StoredValue list = keyValueStorage->readValue(KeyConstants::APPLICATIONS_KEY);
    const StoredValue password = keyValueStorage->readValue(KeyConstants::APPLICATION_PASSWORD_KEY);
    const StoredValue active = keyValueStorage->readValue(KeyConstants::APPLICATION_IS_ACTIVE_KEY);
    const StoredValue administrative =
        keyValueStorage->readValue(KeyConstants::LOCK_ADMINISTRATIVE_APPS_KEY);
    for (const StoredValue* value : {&list, &password, &active, &administrative}) {
        if (!value->answered())
            return std::nullopt;
    }
    return ProtectionSettings{decodeList(list.text), password.text, switchOnByDefault(active.text),
                              switchOnByDefault(administrative.text)};
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
    return switchOnByDefault(keyValueStorage->getValue(KeyConstants::APPLICATION_IS_ACTIVE_KEY));
}

bool ConfigurationAndPreferencesService::setApplicationIsActive(bool active) {
    return setSwitch(KeyConstants::APPLICATION_IS_ACTIVE_KEY, active);
}

bool ConfigurationAndPreferencesService::getStartAtLogin() {
    return keyValueStorage->getValue(KeyConstants::START_AT_LOGIN_KEY) == ON;
}

bool ConfigurationAndPreferencesService::setStartAtLogin(bool startAtLogin) {
    return setSwitch(KeyConstants::START_AT_LOGIN_KEY, startAtLogin);
}

bool ConfigurationAndPreferencesService::getLockAdministrativeApplications() {
    return switchOnByDefault(keyValueStorage->getValue(KeyConstants::LOCK_ADMINISTRATIVE_APPS_KEY));
}

bool ConfigurationAndPreferencesService::setLockAdministrativeApplications(bool lock) {
    return setSwitch(KeyConstants::LOCK_ADMINISTRATIVE_APPS_KEY, lock);
}

bool ConfigurationAndPreferencesService::setSwitch(const QString& key, bool on) {
    const bool stored = keyValueStorage->setValue(key, on ? ON : OFF);
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
