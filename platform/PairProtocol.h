// What Vaultine and Corvane agree on: their bundle identifiers (also their names on the session
// bus), the notification that ends Corvane, the entries of their launches, and how either ends.
#pragma once

#include <sys/types.h>

#include <QString>

namespace platform {

class PairProtocol {
  public:
    static inline const QString MASTER_BUNDLE_ID = QStringLiteral("org.vaultine.Vaultine");
    static inline const QString HELPER_BUNDLE_ID = QStringLiteral("org.vaultine.Corvane");
    // Corvane's bundle folder inside Vaultine's Contents/Library/LoginItems.
    static inline const QString helperBundleName = QStringLiteral("Corvane.app");
    // The session-wide notification, with Vaultine's bundle identifier as its object, on which
    // Corvane ends.
    static inline const QString TERMINATE_HELPER_KEY = QStringLiteral("TERMINATE_HELPER_VAULTINE");
    // The one entry, value "1", of each program's launch configuration for the other.
    static inline const QString START_FROM_MASTER_KEY = QStringLiteral("StartFromMaster");
    static inline const QString RESTARTED_FROM_HELPER_KEY = QStringLiteral("RestartedFromHelper");

    // Where the pair's bundle of this identifier lies, seen from this program's own bundle:
    // Corvane's inside Vaultine's, Vaultine's the bundle enclosing Corvane's, our own ours. Empty
    // outside a bundle, or for an identifier of neither program.
    static QString expectedBundlePath(const QString& bundleIdentifier);
    // Whether the process runs the executable of that expected bundle. Outside a bundle (a
    // development run), the executable of any bundle declaring the identifier counts.
    static bool isPairProcess(pid_t pid, const QString& bundleIdentifier);
    // Whether the program holds its bundle identifier on the session bus through its own bundle
    // executable; a name held by anything else does not count.
    static bool holdsItsName(const QString& bundleIdentifier);
    // Whether this process was launched with the configuration entry `key` set.
    static bool launchedWith(const QString& key);
    // Flushes the standard streams and leaves at once: neither program has anything to save.
    [[noreturn]] static void endProcess(int status);
};

}  // namespace platform
