// The part of the display that no screen covers, for the covers that hide what no monitor of the
// list shows.
#include "platform/Screens.h"

#include <QRegion>

namespace platform {

std::vector<QRect> uncoveredParts(const QRect& whole, const std::vector<QRect>& frames) {
    QRegion rest(whole);
    for (const QRect& frame : frames)
        rest -= frame;
    return {rest.begin(), rest.end()};
}

}  // namespace platform
