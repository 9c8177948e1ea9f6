// Screens set by the test: the list in order and the index of the main screen, changed at will to
// play plugging, unplugging and rearranging monitors.
#pragma once

#include <utility>

#include "platform/ObserverList.h"
#include "platform/Screens.h"

namespace platform::testing {

class FakeScreens : public Screens {
  public:
    std::vector<Screen> list{{QStringLiteral("screen-0"), QRect(0, 0, 1920, 1080)}};
    int mainIndex = 0;  // out of range: no main screen

    // Replaces the screens by frames named "screen-<n>", the first one main.
    void setFrames(const std::vector<QRect>& frames) {
        list.clear();
        for (std::size_t i = 0; i < frames.size(); ++i)
            list.push_back({QStringLiteral("screen-%1").arg(i), frames[i]});
        mainIndex = 0;
    }

    ObserverList<> changeObservers;

    // What the display server's screen events do.
    void announceChange() { changeObservers.notify(); }
    ObserverList<>::Id addChangeObserver(std::function<void()> handler) override {
        return changeObservers.add(std::move(handler));
    }
    void removeChangeObserver(ObserverList<>::Id id) override { changeObservers.remove(id); }

    std::vector<Screen> screens() override { return list; }
    std::optional<Screen> mainScreen() override {
        if (mainIndex < 0 || mainIndex >= static_cast<int>(list.size()))
            return std::nullopt;
        return list[static_cast<std::size_t>(mainIndex)];
    }
};

}  // namespace platform::testing
