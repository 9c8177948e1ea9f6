// Login items as XDG autostart entries: $XDG_CONFIG_HOME/autostart/<id>.desktop starting the
// bundle's executable, written atomically, or removed.
#pragma once

#include <QString>

#include "platform/LoginItems.h"

namespace platform {

class XdgAutostartLoginItems : public LoginItems {
  public:
    bool setLoginItemEnabled(const QString& bundleIdentifier, bool enabled) override;

    // The entry's path for that identifier in the user's autostart folder.
    static QString autostartEntryPath(const QString& bundleIdentifier);
    // The login-item bundle with that identifier inside the main bundle; empty when none.
    static QString loginItemBundlePath(const QString& bundleIdentifier);
    // The text of the autostart entry that starts the executable.
    static QByteArray autostartEntry(const QString& name, const QString& executablePath);

  private:
    bool enable(const QString& bundleIdentifier);
    bool disable(const QString& bundleIdentifier);
};

}  // namespace platform
