// The screens of the desktop as the locking logic sees them: their frames in desktop coordinates
// and which one is the main (primary) screen.
#pragma once

#include <QRect>
#include <QString>
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
};

}  // namespace platform
