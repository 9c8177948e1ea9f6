// The names of the stored settings.
#pragma once

#include <QString>

class KeyConstants {
  public:
    static inline const QString CURRENT_BLOCKED_APP_KEY = QStringLiteral("cbaal");
    // In the user defaults beside "cbaal": the runs of locked applications that were let be.
    static inline const QString KNOWN_INSTANCES_KEY = QStringLiteral("KnownInstances");
    static inline const QString APPLICATION_IS_ACTIVE_KEY = QStringLiteral("Active");
    static inline const QString START_AT_LOGIN_KEY = QStringLiteral("LoginStart");
    static inline const QString LOCK_ADMINISTRATIVE_APPS_KEY = QStringLiteral("Administrative");
    static inline const QString APPLICATION_PASSWORD_KEY = QStringLiteral("Password");
    static inline const QString APPLICATIONS_KEY = QStringLiteral("Applications");
};
