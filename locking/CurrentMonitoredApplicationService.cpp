// Reads, writes and removes "cbaal" in the user defaults database.
#include "locking/CurrentMonitoredApplicationService.h"

#include "storage/KeyConstants.h"

CurrentMonitoredApplicationService::CurrentMonitoredApplicationService()
    : storage(KeyValueStorageType::userDefaults) {}

std::optional<QString> CurrentMonitoredApplicationService::currentMonitoredApplication() {
    const QString identifier = storage.getValue(KeyConstants::CURRENT_BLOCKED_APP_KEY);
    if (identifier.isEmpty())
        return std::nullopt;
    return identifier;
}

void CurrentMonitoredApplicationService::markMinitoredApplication(const QString& bundleIdentifier) {
    storage.setValue(KeyConstants::CURRENT_BLOCKED_APP_KEY, bundleIdentifier);
}

void CurrentMonitoredApplicationService::unmarkMinitoredApplication() {
    storage.removeValue(KeyConstants::CURRENT_BLOCKED_APP_KEY);
}
