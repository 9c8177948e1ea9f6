// The secret store over the Secret Service (gnome-keyring, KWallet) through libsecret's
// synchronous calls.
#pragma once

#include <QObject>
#include <functional>
#include <vector>

#include "platform/ObserverList.h"
#include "platform/SecretStore.h"

class QTimer;

namespace platform {

// Items use the schema "org.vaultine.Keychain" with one string attribute "account", are labelled
// with the account and live in the default collection. Reads never unlock: an unlock prompt would
// block the program's only thread until somebody answers it, so a locked item, or no item while
// the default collection is locked, reads as unavailable. When no Secret Service answers, one
// line saying so goes to standard error, once per process.
//
// Availability: the Secret Service's PropertiesChanged and CollectionChanged signals (a collection
// locked or unlocked) and, while the last read was unavailable, a 3-second timer tell the
// observers to read again.
class LibsecretStore : public QObject, public SecretStore {
    Q_OBJECT

  public:
    LibsecretStore();
    ~LibsecretStore() override;

    SecretLookup copyMatching(const QString& account) override;
    bool store(const QString& account, const QByteArray& bytes) override;
    bool remove(const QString& account) override;
    void addAvailabilityObserver(std::function<void()> handler) override;

  private Q_SLOTS:
    void storeMayHaveChanged();

  private:
    void watchService();
    void noteAnswer(const SecretLookup& lookup);

    ObserverList<> observers;
    QTimer* retryTimer = nullptr;
    bool watching = false;
};

}  // namespace platform
