// The Wayland protocols of our overlay surfaces (the core, the wlr layer shell, xdg-output), their
// headers generated at build time, and owning pointers that destroy a protocol object with it.
#pragma once

#include <wayland-client.h>

#include <memory>

// The layer shell's generated header names an argument `namespace`, a C++ keyword.
#define namespace layerNamespace
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace
#include "xdg-output-unstable-v1-client-protocol.h"

namespace platform::wayland {

// Sends the object's destroy request when the pointer goes.
struct ProtocolDeleter {
    void operator()(wl_surface* object) const { wl_surface_destroy(object); }
    void operator()(wl_callback* object) const { wl_callback_destroy(object); }
    void operator()(zwlr_layer_surface_v1* object) const { zwlr_layer_surface_v1_destroy(object); }
};
template <class Object>
using ProtocolObject = std::unique_ptr<Object, ProtocolDeleter>;

}  // namespace platform::wayland
