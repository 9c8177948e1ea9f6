// The small doubles of the platform interfaces.
#include "platform/testing/Doubles.h"

namespace platform::testing {

SecretLookup FakeSecretStore::copyMatching(const QString& account) {
    if (unreachable)
        return SecretLookup::unavailable();
    const auto found = items.find(account);
    if (found == items.end())
        return SecretLookup::noItem();
    return SecretLookup::found(found->second);
}

bool FakeSecretStore::store(const QString& account, const QByteArray& bytes) {
    if (refuseWrites || unreachable)
        return false;
    items[account] = bytes;
    return true;
}

bool FakeSecretStore::remove(const QString& account) {
    if (refuseWrites || unreachable)
        return false;
    return items.erase(account) > 0;
}

int ManualMainQueue::runAll() {
    int ran = 0;
    while (!pending.empty()) {
        Block block = std::move(pending.front());
        pending.pop_front();
        block();
        ++ran;
    }
    return ran;
}

void installMainBundle(const QString& identifier, const QString& path) {
    MainBundle::install(std::make_unique<MainBundle>(path, identifier));
}

}  // namespace platform::testing
