// The user's secret store of generic-password items, each addressed by an account string.
#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

#include "platform/Installable.h"

namespace platform {

class SecretStore : public Installable<SecretStore> {
  public:
    virtual ~SecretStore() = default;

    // The Secret Service of the session, through libsecret.
    static std::unique_ptr<SecretStore> createDefault();

    // The bytes of the account's item, or none when there is none or the store cannot be read.
    virtual std::optional<QByteArray> copyMatching(const QString& account) = 0;
    // Stores the bytes as the account's one item, replacing any previous item in one step: when the
    // store refuses, the previous item is still there. True iff the item was stored.
    virtual bool store(const QString& account, const QByteArray& bytes) = 0;
    // True iff an item of the account was removed.
    virtual bool remove(const QString& account) = 0;
};

}  // namespace platform
