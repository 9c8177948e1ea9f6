// A single-instance claim for unit tests: identifiers listed in `taken` are held by another
// process; every claim is recorded.
#pragma once

#include <QStringList>

#include "platform/SingleInstance.h"

namespace platform::testing {

class FakeSingleInstance : public SingleInstance {
  public:
    bool claim(const QString& bundleIdentifier) override {
        claims.append(bundleIdentifier);
        if (taken.contains(bundleIdentifier))
            return false;
        taken.append(bundleIdentifier);
        return true;
    }

    QStringList taken;
    QStringList claims;
};

}  // namespace platform::testing
