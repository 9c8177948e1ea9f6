// The screens of the desktop as the locking logic sees them: their frames in desktop coordinates
// and which one is the main (primary) screen.
#pragma once

#include <QRect>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/Installable.h"

namespace platform {

struct Screen {
    QString name;  // the output's name ("DP-1"); may be empty
    QRect frame;   // the whole screen in desktop coordinates

    friend bool operator==(const Screen&, const Screen&) = default;
};

class Screens : public Installable<Screens> {
  public:
    virtual ~Screens() = default;
    // Qt's screens of the running QGuiApplication.
    static std::unique_ptr<Screens> createDefault();

    // Every screen, in the platform's order.
    virtual std::vector<Screen> screens() = 0;
    // The primary screen; none while no screen is attached.
    virtual std::optional<Screen> mainScreen() = 0;
    // The handler runs on the main thread, after the list changed, whenever the display server
    // reports a screen added, removed, moved, resized or made primary (on X11: the RandR events
    // behind Qt's screen signals). Handlers cannot be removed: their owners live as long as the
    // program or check a weak pointer.
    virtual void addChangeObserver(std::function<void()> handler) = 0;
};

}  // namespace platform
