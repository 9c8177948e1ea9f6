// Corvane's two protocol constants: Vaultine's bundle identifier and the name of the notification
// on which Corvane ends, with the marker of the launches it makes.
#pragma once

#include <QString>

namespace corvane {

class Constants {
  public:
    static inline const QString MASTER_BUNDLE_ID = QStringLiteral("org.vaultine.Vaultine");
    static inline const QString TERMINATE_HELPER_KEY = QStringLiteral("TERMINATE_HELPER_VAULTINE");
    // The one entry of the launch configuration of Vaultine; Vaultine never reads it.
    static inline const QString RESTARTED_FROM_HELPER_KEY = QStringLiteral("RestartedFromHelper");
    static inline const QString RUNNING_APPLICATIONS_KEY_PATH =
        QStringLiteral("runningApplications");
};

}  // namespace corvane
