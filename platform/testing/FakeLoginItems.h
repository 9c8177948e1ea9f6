// Login items of the test: the identifiers switched on, a switch to refuse every change, and the
// requests as they came.
#pragma once

#include <QStringList>
#include <set>
#include <utility>
#include <vector>

#include "platform/LoginItems.h"

namespace platform::testing {

class FakeLoginItems : public LoginItems {
  public:
    std::set<QString> enabled;
    bool refuseChanges = false;
    std::vector<std::pair<QString, bool>> requests;

    bool setLoginItemEnabled(const QString& bundleIdentifier, bool on) override {
        requests.emplace_back(bundleIdentifier, on);
        if (refuseChanges)
            return false;
        if (on)
            enabled.insert(bundleIdentifier);
        else
            enabled.erase(bundleIdentifier);
        return true;
    }
};

}  // namespace platform::testing
