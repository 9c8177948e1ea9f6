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
#include "platform/ObserverList.h"

namespace platform {

struct Screen {
    QString name;  // the output's name ("DP-1"); may be empty
    QRect frame;   // the whole screen in desktop coordinates

    friend bool operator==(const Screen&, const Screen&) = default;
};

// The parts of `whole` that none of `frames` covers, as rectangles that do not overlap.
std::vector<QRect> uncoveredParts(const QRect& whole, const std::vector<QRect>& frames);

class Screens : public Installable<Screens> {
  public:
    virtual ~Screens() = default;
    // On X11 the monitors RandR reports, read on a connection of our own; elsewhere Qt's screens of
    // the running QGuiApplication.
    static std::unique_ptr<Screens> createDefault();

    // Every screen, in the platform's order; on X11 followed by the parts of the X screen that no
    // monitor shows (uncoveredParts), so that covering every entry covers every pixel whatever the
    // monitor list says.
    virtual std::vector<Screen> screens() = 0;
    // The primary screen; none while no screen is attached.
    virtual std::optional<Screen> mainScreen() = 0;
    // The handler runs on the main thread, after the list changed, whenever the display server
    // reports a screen added, removed, moved, resized or made primary.
    virtual ObserverList<>::Id addChangeObserver(std::function<void()> handler) = 0;
    virtual void removeChangeObserver(ObserverList<>::Id id) = 0;
};

}  // namespace platform
