// In-memory doubles of the small platform interfaces: defaults database, secret store, queues and
// the main bundle, with the failure switches the tests need.
#pragma once

#include <QJsonObject>
#include <deque>
#include <functional>
#include <map>
#include <vector>

#include "platform/MainBundle.h"
#include "platform/ObserverList.h"
#include "platform/Queues.h"
#include "platform/SecretStore.h"
#include "platform/UserDefaults.h"

namespace platform::testing {

class InMemoryUserDefaults : public UserDefaults {
  public:
    QJsonObject values;
    int synchronizeCount = 0;
    bool unreadable = false;    // the file is there but cannot be read
    bool refuseWrites = false;  // the disk refuses the save

    QJsonValue valueForKey(const QString& key) override {
        return unreadable ? QJsonValue() : values.value(key);
    }
    bool isReadable() override { return !unreadable; }
    void setValue(const QString& key, const QJsonValue& value) override {
        values.insert(key, value);
    }
    void removeObjectForKey(const QString& key) override { values.remove(key); }
    bool synchronize() override {
        ++synchronizeCount;
        return !unreadable && !refuseWrites;
    }
};

class FakeSecretStore : public SecretStore {
  public:
    std::map<QString, QByteArray> items;
    bool refuseWrites = false;  // a locked or absent keyring: stores fail, items stay
    bool unreachable = false;   // no Secret Service at all, or a locked one: reads are unavailable
    ObserverList<> availabilityObservers;

    SecretLookup copyMatching(const QString& account) override;
    bool store(const QString& account, const QByteArray& bytes) override;
    bool remove(const QString& account) override;
    void addAvailabilityObserver(std::function<void()> handler) override {
        availabilityObservers.add(std::move(handler));
    }
    // What the service's signals or the retry timer do: tells every observer to read again.
    void announceAvailability() { availabilityObservers.notify(); }
};

// A main queue that runs blocks only when the test says so.
class ManualMainQueue : public MainQueue {
  public:
    void async(Block block) override { pending.push_back(std::move(block)); }
    // Runs queued blocks, including blocks they queue, until none is left; returns how many ran.
    int runAll();
    std::size_t pendingCount() const { return pending.size(); }

  private:
    std::deque<Block> pending;
};

// A global queue that runs each block at once on the calling thread.
class ImmediateGlobalQueue : public GlobalQueue {
  public:
    void async(Block block) override { block(); }
};

// Installs a main bundle with the given identifier (and a path of the tests' choosing).
void installMainBundle(const QString& identifier,
                       const QString& path = QStringLiteral("/opt/test/Vaultine.app"));

}  // namespace platform::testing
