// The user's secret store of generic-password items, each addressed by an account string.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "platform/Installable.h"

namespace platform {

// What the store answered for one account. A missing item and an item that could not be read
// (the keyring is locked, no Secret Service answers) are different answers: only the first one
// says that nothing is stored.
struct SecretLookup {
    enum class Answer { noItem, found, unavailable };
    Answer answer = Answer::unavailable;
    QByteArray bytes;  // the item's bytes when found

    static SecretLookup noItem() { return {Answer::noItem, {}}; }
    static SecretLookup found(QByteArray bytes) { return {Answer::found, std::move(bytes)}; }
    static SecretLookup unavailable() { return {Answer::unavailable, {}}; }
};

class SecretStore : public Installable<SecretStore> {
  public:
    virtual ~SecretStore() = default;

    // The Secret Service of the session, through libsecret.
    static std::unique_ptr<SecretStore> createDefault();

    // The account's item. Never asks the user to unlock anything: a locked store answers
    // `unavailable` at once.
    virtual SecretLookup copyMatching(const QString& account) = 0;
    // Stores the bytes as the account's one item, replacing any previous item in one step: when the
    // store refuses, the previous item is still there. True iff the item was stored.
    virtual bool store(const QString& account, const QByteArray& bytes) = 0;
    // True iff an item of the account was removed.
    virtual bool remove(const QString& account) = 0;

    // The handler runs on the main thread whenever the store may have become readable again (its
    // collection was unlocked, the service appeared), and every few seconds while the last read
    // was unavailable. Handlers cannot be removed: their owners live as long as the program.
    virtual void addAvailabilityObserver(std::function<void()> handler) = 0;
};

}  // namespace platform
