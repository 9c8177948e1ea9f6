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
    void markMinitoredApplication(const QString& bundleIdentifier);
    void unmarkMinitoredApplication();

  private:
    KeyValueStorage storage;
};
