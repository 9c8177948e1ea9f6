// The bundle identifier of the application that is locked at the moment, kept under "cbaal" in
// the user defaults so that a restarted Vaultine locks it again.
#pragma once

#include <QString>
#include <optional>

#include "storage/KeyValueStorage.h"

class CurrentMonitoredApplicationService {
  public:
    CurrentMonitoredApplicationService();

    // The stored identifier; none when it is missing or empty.
    std::optional<QString> currentMonitoredApplication();
    // Both writers answer whether the record took effect. A refused record is kept and written
    // again by retryFailedWrite until one write takes effect or a newer record replaces it.
    bool markMinitoredApplication(const QString& bundleIdentifier);
    bool unmarkMinitoredApplication();
    // Writes the last refused record again; true when nothing is left to write.
    bool retryFailedWrite();
    bool hasFailedWrite() const { return failedRecord.has_value(); }

  private:
    bool write(const std::optional<QString>& record);

    KeyValueStorage storage;
    // The record that did not take effect: an identifier, or none for a removal.
    std::optional<std::optional<QString>> failedRecord;
};
