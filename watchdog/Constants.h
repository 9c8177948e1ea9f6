// Corvane's own constants; what it shares with Vaultine is in platform/PairProtocol.h.
#pragma once

#include <QString>

namespace corvane {

class Constants {
  public:
    // The workspace observation that reports changes of the running-application list.
    static inline const QString RUNNING_APPLICATIONS_KEY_PATH =
        QStringLiteral("runningApplications");
};

}  // namespace corvane
