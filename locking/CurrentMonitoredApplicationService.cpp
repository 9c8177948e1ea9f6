// Reads, writes and removes "cbaal" in the user defaults database, and writes again a record that
// the database refused.
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

bool CurrentMonitoredApplicationService::markMinitoredApplication(const QString& bundleIdentifier) {
    return write(bundleIdentifier);
}

bool CurrentMonitoredApplicationService::unmarkMinitoredApplication() {
    return write(std::nullopt);
}

bool CurrentMonitoredApplicationService::retryFailedWrite() {
    if (!failedRecord)
        return true;
    return write(*failedRecord);
}

bool CurrentMonitoredApplicationService::write(const std::optional<QString>& record) {
    const bool stored = record ? storage.setValue(KeyConstants::CURRENT_BLOCKED_APP_KEY, *record)
                               : storage.removeValue(KeyConstants::CURRENT_BLOCKED_APP_KEY);
    if (stored)
        failedRecord.reset();
    else
        failedRecord = record;
    return stored;
}
