// Login items of the test: the identifiers switched on, a switch to refuse every change, and the
// requests as they came.
#pragma once

#include <QStringList>
#include <set>
#include <utility>
#include <vector>

#include "platform/LoginItems.h"
#include "platform/ObserverList.h"

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
    bool loginItemEnabled(const QString& bundleIdentifier) override {
        return enabled.count(bundleIdentifier) > 0;
    }
    ObserverList<> changeObservers;
    void addChangeObserver(std::function<void()> handler) override {
        changeObservers.add(std::move(handler));
    }
    // What a change in the autostart folder does.
    void announceChange() { changeObservers.notify(); }
};

}  // namespace platform::testing
