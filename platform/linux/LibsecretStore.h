// The secret store over the Secret Service (gnome-keyring, KWallet) through libsecret's
// synchronous calls.
#pragma once

#include "platform/SecretStore.h"

namespace platform {

// Items use the schema "org.vaultine.Keychain" with one string attribute "account", are labelled
// with the account and live in the default collection. When no Secret Service answers, one line
// saying so goes to standard error, once per process; the calls then read as misses and refused
// writes.
class LibsecretStore : public SecretStore {
  public:
    std::optional<QByteArray> copyMatching(const QString& account) override;
    bool store(const QString& account, const QByteArray& bytes) override;
    bool remove(const QString& account) override;
};

}  // namespace platform
