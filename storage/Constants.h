// The bundle constants of Vaultine and Corvane.
#pragma once

#include <QString>

#include "platform/MainBundle.h"

class Constants {
  public:
    // The running program's own bundle identifier, read from its bundle at every call.
    static QString BUNDLE_ID() { return platform::MainBundle::shared().bundleIdentifier(); }
    static inline const QString HELPER_APP_NAME = QStringLiteral("Corvane.app");
};
