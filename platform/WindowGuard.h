// Guards for our lock and cover windows: kept above every other window, following their screen, and
// (the lock window) holding the keyboard and pointer while the presentation options are set.
#pragma once

#include <memory>

#include "platform/Installable.h"

class QWidget;

namespace platform {

// Guarding lasts as long as this object; destroying it gives back grabs and stops the watching.
// A lock window's guard destroyed while the presentation options are still set keeps its grabs
// until the next lock window's guard holds them, or until the options are reset and stay reset
// through the current turn of the main queue: a lock rebuilt in one turn never lets go.
class WindowGuard {
  public:
    virtual ~WindowGuard() = default;
};

class WindowGuards : public Installable<WindowGuards> {
  public:
    enum class Role {
        lockWindow,   // takes the input: grabs while the presentation options are set
        coverWindow,  // only kept on top
    };

    virtual ~WindowGuards() = default;
    // On an X11 display the guards of platform/linux/X11LockGuard.h; on a Wayland compositor with
    // the layer shell, overlay surfaces (platform/linux/LayerShellWindowGuard.h); elsewhere none.
    static std::unique_ptr<WindowGuards> createDefault();

    // Starts guarding a top-level window, best before it is shown: the lock window's grabs are
    // taken at once (on the root window until the window maps). Never returns none.
    virtual std::unique_ptr<WindowGuard> guard(QWidget& window, Role role) = 0;
};

}  // namespace platform
