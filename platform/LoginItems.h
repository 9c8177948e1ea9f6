// Programs started when the user logs in: a login item is an application bundle shipped inside the
// main bundle, switched on or off by its bundle identifier.
#pragma once

#include <QString>
#include <functional>
#include <memory>

#include "platform/Installable.h"

namespace platform {

class LoginItems : public Installable<LoginItems> {
  public:
    virtual ~LoginItems() = default;
    // XDG autostart entries (platform/linux/XdgAutostartLoginItems.cpp).
    static std::unique_ptr<LoginItems> createDefault();

    // Registers (true) or unregisters (false) the bundle with that identifier, which lies in
    // <main bundle>/Contents/Library/LoginItems/. True iff the change took effect.
    virtual bool setLoginItemEnabled(const QString& bundleIdentifier, bool enabled) = 0;
    // True iff what is registered now starts that bundle at login, whoever changed it last.
    virtual bool loginItemEnabled(const QString& bundleIdentifier) = 0;
    // The handler runs on the main thread whenever the registered login items may have changed
    // (on Linux: the autostart folder or an entry in it changed). Handlers cannot be removed.
    virtual void addChangeObserver(std::function<void()> handler) = 0;
};

}  // namespace platform
