// The runs of locked applications that Vaultine let be (released by the password, or running when
// protection started), kept in the user defaults beside the current lock, so that a restarted
// Vaultine can tell them from the runs that began while it was down.
#pragma once

#include <sys/types.h>

#include <QString>
#include <optional>
#include <set>
#include <utility>

#include "storage/KeyValueStorage.h"

class KnownInstancesService {
  public:
    // A run: its topmost process and that process's start time, which tells a reused pid apart.
    using Instance = std::pair<pid_t, unsigned long long>;
    using Instances = std::set<Instance>;

    KnownInstancesService();

    // The entry of a stored list that stands for every run (stored by Quit, which needed the
    // password): nothing that runs when Vaultine starts again began behind its back.
    static constexpr Instance everything{0, 0};

    // None when no list is stored or it cannot be read: a first start, or the defaults file
    // deleted or broken, in which case nothing is known.
    std::optional<Instances> storedInstances();
    void storeInstances(const Instances& instances);
    void storeEverythingKnown();

    // "known;" followed by "pid:start;" for each run, or "all;" for `everything`; the marker
    // keeps an empty list apart from no list. Pieces that do not parse are dropped.
    static QString encode(const Instances& instances);
    static std::optional<Instances> decode(const QString& text);

  private:
    KeyValueStorage storage;
};
