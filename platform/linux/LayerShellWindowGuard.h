// The window guard of a Wayland session whose compositor offers the layer shell: the guarded
// window never maps as an ordinary window; while the toolkit shows it, it is shown on an overlay
// surface over its screen's output, the lock window's one with the keyboard.
#pragma once

#include <memory>

#include "platform/WindowGuard.h"

class QWidget;

namespace platform::wayland {

class LayerShellConnection;

// A guard for `window` on our own connection; `takesKeyboard` for the lock window.
std::unique_ptr<WindowGuard> makeLayerShellWindowGuard(LayerShellConnection& connection,
                                                       QWidget& window, bool takesKeyboard);

}  // namespace platform::wayland
