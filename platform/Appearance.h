// The desktop's global appearance preference: the interface style the user chose ("Dark"), as
// the desktop states it.
#pragma once

#include <QVariant>
#include <memory>

#include "platform/Installable.h"

namespace platform {

class Appearance : public Installable<Appearance> {
  public:
    virtual ~Appearance() = default;
    // The desktop portal and GNOME's settings (platform/linux/DesktopAppearance.cpp).
    static std::unique_ptr<Appearance> createDefault();

    // The interface style entry, read afresh: the text "Dark" when the desktop prefers a dark
    // appearance; invalid when it states no style. Callers check that the entry is text.
    virtual QVariant interfaceStyle() = 0;
};

}  // namespace platform
