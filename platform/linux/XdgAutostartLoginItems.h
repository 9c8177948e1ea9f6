// Login items as XDG autostart entries: $XDG_CONFIG_HOME/autostart/<id>.desktop starting the
// bundle's executable, written atomically, or removed.
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "platform/LoginItems.h"
#include "platform/ObserverList.h"

class QFileSystemWatcher;

namespace platform {

// An entry counts as registered only when every desktop would start the bundle from it: a plain
// file in the user's autostart folder (which takes precedence over the system-wide ones of
// $XDG_CONFIG_DIRS) holding only the keys Vaultine writes and a few that no desktop reads at
// login, with the values that start it (entryStarts). Any other entry is written again whole.
// Changes are seen through a QFileSystemWatcher on the autostart folder (on the configuration
// folder while it does not exist) and on the entries in it.
class XdgAutostartLoginItems : public LoginItems {
  public:
    XdgAutostartLoginItems();
    ~XdgAutostartLoginItems() override;

    bool setLoginItemEnabled(const QString& bundleIdentifier, bool enabled) override;
    bool loginItemEnabled(const QString& bundleIdentifier) override;
    void addChangeObserver(std::function<void()> handler) override;

    // The entry's path for that identifier in the user's autostart folder.
    static QString autostartEntryPath(const QString& bundleIdentifier);
    // The login-item bundle with that identifier inside the main bundle; empty when none.
    static QString loginItemBundlePath(const QString& bundleIdentifier);
    // The text of the autostart entry that starts the executable.
    static QByteArray autostartEntry(const QString& name, const QString& executablePath);

    // Whether the entry's text starts that executable at login on every desktop: one
    // [Desktop Entry] group, each key once, Type=Application, an Exec running exactly it, and no
    // key that hides, conditions, delays or redirects the start (see keyLetsItStart).
    static bool entryStarts(const QByteArray& text, const QString& executable);
    // The executable the entry of that login item starts; empty when the bundle is not usable.
    static QString loginItemExecutable(const QString& bundleIdentifier);

  private:
    bool enable(const QString& bundleIdentifier);
    bool disable(const QString& bundleIdentifier);
    void watchFolder();
    void folderChanged();

    std::unique_ptr<QFileSystemWatcher> watcher;
    ObserverList<> observers;
};

}  // namespace platform
