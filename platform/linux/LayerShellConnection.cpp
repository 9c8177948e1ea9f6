// Our own Wayland connection: globals, outputs (named through xdg-output), and the seat's input
// routed to the overlay surface it is for, read from the main loop through a socket notifier.
#include "platform/linux/LayerShellConnection.h"

#include <linux/input-event-codes.h>
#include <sys/mman.h>

#include <QDebug>
#include <algorithm>

#include "platform/linux/LayerShellSurface.h"
#include "platform/linux/UniqueFd.h"

namespace platform::wayland {

namespace {

constexpr std::uint32_t compositorVersion = 4;  // damage_buffer
constexpr std::uint32_t layerShellVersion = 4;
constexpr std::uint32_t seatVersion = 5;
constexpr std::uint32_t outputVersion = 3;  // scale, done, release
constexpr std::uint32_t xdgOutputVersion = 3;

template <class Interface>
Interface* bind(wl_registry* registry, std::uint32_t name, const wl_interface* interface,
                std::uint32_t offered, std::uint32_t wanted) {
    return static_cast<Interface*>(
        wl_registry_bind(registry, name, interface, std::min(offered, wanted)));
}

void ignore() {}

}  // namespace

// The listeners' C entry points, each handing its event to the connection given as data.
struct SeatListeners {
    static LayerShellConnection& of(void* data) {
        return *static_cast<LayerShellConnection*>(data);
    }

    static constexpr wl_registry_listener registry = {
        .global = LayerShellConnection::registryGlobal,
        .global_remove = LayerShellConnection::registryGlobalRemove,
    };

    static constexpr wl_seat_listener seat = {
        .capabilities = [](void* data, wl_seat*,
                           std::uint32_t capabilities) { of(data).seatCapabilities(capabilities); },
        .name = [](void*, wl_seat*, const char*) { ignore(); },
    };

    static constexpr wl_keyboard_listener keyboard = {
        .keymap = [](void* data, wl_keyboard*, std::uint32_t, int fd,
                     std::uint32_t size) { of(data).keymap(fd, size); },
        .enter =
            [](void* data, wl_keyboard*, std::uint32_t, wl_surface* surface, wl_array*) {
                auto& connection = of(data);
                connection.keyboardFocus = surface;
                if (auto* overlay = connection.surfaceOf(surface))
                    overlay->keyboardEntered();
            },
        .leave =
            [](void* data, wl_keyboard*, std::uint32_t, wl_surface*) {
                auto& connection = of(data);
                connection.keyboardFocus = nullptr;
                connection.repeatTimer.stop();
            },
        .key =
            [](void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t key,
               std::uint32_t state) { of(data).key(key, state == WL_KEYBOARD_KEY_STATE_PRESSED); },
        .modifiers =
            [](void* data, wl_keyboard*, std::uint32_t, std::uint32_t depressed,
               std::uint32_t latched, std::uint32_t locked, std::uint32_t group) {
                of(data).xkb.updateModifiers(depressed, latched, locked, group);
            },
        .repeat_info =
            [](void* data, wl_keyboard*, std::int32_t rate, std::int32_t delay) {
                auto& connection = of(data);
                connection.repeatIntervalMs = rate > 0 ? std::max(1, 1000 / rate) : 0;
                connection.repeatDelayMs = std::max(0, delay);
            },
    };

    static constexpr wl_pointer_listener pointer = {
        .enter =
            [](void* data, wl_pointer*, std::uint32_t, wl_surface* surface, wl_fixed_t x,
               wl_fixed_t y) {
                auto& connection = of(data);
                connection.pointerFocus = surface;
                connection.pointerPosition = QPointF(wl_fixed_to_double(x), wl_fixed_to_double(y));
            },
        .leave =
            [](void* data, wl_pointer*, std::uint32_t, wl_surface*) {
                of(data).pointerFocus = nullptr;
                of(data).buttons = Qt::NoButton;
            },
        .motion =
            [](void* data, wl_pointer*, std::uint32_t, wl_fixed_t x, wl_fixed_t y) {
                of(data).pointerPosition = QPointF(wl_fixed_to_double(x), wl_fixed_to_double(y));
            },
        .button =
            [](void* data, wl_pointer*, std::uint32_t, std::uint32_t, std::uint32_t button,
               std::uint32_t state) {
                of(data).pointerButton(button, state == WL_POINTER_BUTTON_STATE_PRESSED);
            },
        .axis = [](void*, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t) { ignore(); },
        .frame = [](void*, wl_pointer*) { ignore(); },
        .axis_source = [](void*, wl_pointer*, std::uint32_t) { ignore(); },
        .axis_stop = [](void*, wl_pointer*, std::uint32_t, std::uint32_t) { ignore(); },
        .axis_discrete = [](void*, wl_pointer*, std::uint32_t, std::int32_t) { ignore(); },
    };

    static LayerShellConnection::Output& output(void* data) {
        return *static_cast<LayerShellConnection::Output*>(data);
    }

    static constexpr wl_output_listener wlOutput = {
        .geometry = [](void*, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                       std::int32_t, const char*, const char*, std::int32_t) { ignore(); },
        .mode = [](void*, wl_output*, std::uint32_t, std::int32_t, std::int32_t,
                   std::int32_t) { ignore(); },
        .done = [](void*, wl_output*) { ignore(); },
        .scale = [](void* data, wl_output*,
                    std::int32_t factor) { output(data).scale = std::max(1, factor); },
        .name = [](void*, wl_output*, const char*) { ignore(); },
        .description = [](void*, wl_output*, const char*) { ignore(); },
    };

    static constexpr zxdg_output_v1_listener xdgOutput = {
        .logical_position = [](void* data, zxdg_output_v1*, std::int32_t x,
                               std::int32_t y) { output(data).position = QPoint(x, y); },
        .logical_size = [](void*, zxdg_output_v1*, std::int32_t, std::int32_t) { ignore(); },
        .done = [](void*, zxdg_output_v1*) { ignore(); },
        .name = [](void* data, zxdg_output_v1*,
                   const char* name) { output(data).name = QString::fromUtf8(name); },
        .description = [](void*, zxdg_output_v1*, const char*) { ignore(); },
    };
};

LayerShellConnection* LayerShellConnection::shared() {
    static LayerShellConnection* instance = []() -> LayerShellConnection* {
        wl_display* display = wl_display_connect(nullptr);
        if (!display)
            return nullptr;
        // Lives as long as the program, like the toolkit's own connection: guards and surfaces
        // may still refer to it while the program ends.
        auto* connection = new LayerShellConnection(display);
        if (!connection->layerShellGlobal || !connection->compositorGlobal ||
            !connection->shmGlobal) {
            delete connection;
            return nullptr;
        }
        return connection;
    }();
    return instance && !instance->lost ? instance : nullptr;
}

LayerShellConnection::LayerShellConnection(wl_display* display) : display(display) {
    registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &SeatListeners::registry, this);
    // The globals, then what the bound ones tell at once (outputs' names and places, the seat).
    if (!roundTrip() || !roundTrip())
        return;
    notifier = std::make_unique<QSocketNotifier>(wl_display_get_fd(display), QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, [this] { readEvents(); });
    repeatTimer.setSingleShot(false);
    connect(&repeatTimer, &QTimer::timeout, this, [this] { repeatKey(); });
}

LayerShellConnection::~LayerShellConnection() {
    notifier.reset();
    for (auto& output : outputs) {
        if (output->xdgOutput)
            zxdg_output_v1_destroy(output->xdgOutput);
        wl_output_destroy(output->output);
    }
    for (auto* proxy :
         {reinterpret_cast<wl_proxy*>(keyboard), reinterpret_cast<wl_proxy*>(pointer),
          reinterpret_cast<wl_proxy*>(seat), reinterpret_cast<wl_proxy*>(xdgOutputManager),
          reinterpret_cast<wl_proxy*>(layerShellGlobal), reinterpret_cast<wl_proxy*>(shmGlobal),
          reinterpret_cast<wl_proxy*>(compositorGlobal), reinterpret_cast<wl_proxy*>(registry)}) {
        if (proxy)
            wl_proxy_destroy(proxy);
    }
    wl_display_disconnect(display);
}

bool LayerShellConnection::roundTrip() {
    if (lost || wl_display_roundtrip(display) < 0) {
        markLost();
        return false;
    }
    return true;
}

void LayerShellConnection::flush() {
    if (!lost && wl_display_flush(display) < 0 && errno != EAGAIN)
        markLost();
}

void LayerShellConnection::readEvents() {
    if (lost)
        return;
    while (wl_display_prepare_read(display) != 0)
        wl_display_dispatch_pending(display);
    wl_display_flush(display);
    if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0) {
        markLost();
        return;
    }
    flush();
}

void LayerShellConnection::markLost() {
    if (lost)
        return;
    lost = true;
    if (notifier)
        notifier->setEnabled(false);
    repeatTimer.stop();
    qWarning().noquote() << "Layer shell: the connection to the compositor is lost (error"
                         << wl_display_get_error(display) << ")";
    Q_EMIT connectionLost();
}

void LayerShellConnection::registryGlobal(void* data, wl_registry* registry, std::uint32_t name,
                                          const char* interface, std::uint32_t version) {
    auto& self = *static_cast<LayerShellConnection*>(data);
    const QByteArrayView offered(interface);
    if (offered == wl_compositor_interface.name && !self.compositorGlobal) {
        self.compositorGlobal = bind<wl_compositor>(registry, name, &wl_compositor_interface,
                                                    version, compositorVersion);
    } else if (offered == wl_shm_interface.name && !self.shmGlobal) {
        self.shmGlobal = bind<wl_shm>(registry, name, &wl_shm_interface, version, 1);
    } else if (offered == zwlr_layer_shell_v1_interface.name && !self.layerShellGlobal) {
        self.layerShellGlobal = bind<zwlr_layer_shell_v1>(
            registry, name, &zwlr_layer_shell_v1_interface, version, layerShellVersion);
    } else if (offered == zxdg_output_manager_v1_interface.name && !self.xdgOutputManager) {
        self.xdgOutputManager = bind<zxdg_output_manager_v1>(
            registry, name, &zxdg_output_manager_v1_interface, version, xdgOutputVersion);
        for (auto& output : self.outputs)
            self.describeOutput(*output);
    } else if (offered == wl_seat_interface.name && !self.seat) {
        self.seat = bind<wl_seat>(registry, name, &wl_seat_interface, version, seatVersion);
        wl_seat_add_listener(self.seat, &SeatListeners::seat, &self);
    } else if (offered == wl_output_interface.name) {
        self.addOutput(name, version);
    }
}

void LayerShellConnection::registryGlobalRemove(void* data, wl_registry*, std::uint32_t name) {
    auto& outputs = static_cast<LayerShellConnection*>(data)->outputs;
    // The output's surfaces are told by their own closed event.
    std::erase_if(outputs, [name](const std::unique_ptr<Output>& output) {
        if (output->global != name)
            return false;
        if (output->xdgOutput)
            zxdg_output_v1_destroy(output->xdgOutput);
        wl_output_destroy(output->output);
        return true;
    });
}

void LayerShellConnection::addOutput(std::uint32_t global, std::uint32_t version) {
    auto output = std::make_unique<Output>();
    output->global = global;
    output->output =
        bind<wl_output>(registry, global, &wl_output_interface, version, outputVersion);
    wl_output_add_listener(output->output, &SeatListeners::wlOutput, output.get());
    describeOutput(*output);
    outputs.push_back(std::move(output));
}

void LayerShellConnection::describeOutput(Output& output) {
    if (!xdgOutputManager || output.xdgOutput)
        return;
    output.xdgOutput = zxdg_output_manager_v1_get_xdg_output(xdgOutputManager, output.output);
    zxdg_output_v1_add_listener(output.xdgOutput, &SeatListeners::xdgOutput, &output);
}

const LayerShellConnection::Output* LayerShellConnection::outputFor(const QString& screenName,
                                                                    const QRect& frame) {
    const auto find = [&]() -> const Output* {
        for (const auto& output : outputs) {
            if (!screenName.isEmpty() && output->name == screenName)
                return output.get();
        }
        for (const auto& output : outputs) {
            if (output->position == frame.topLeft())
                return output.get();
        }
        return nullptr;
    };
    if (const Output* found = find())
        return found;
    // The output's global, then its name and place.
    if (!roundTrip() || !roundTrip())
        return nullptr;
    return find();
}

const LayerShellConnection::Output* LayerShellConnection::outputOf(wl_output* output) const {
    for (const auto& known : outputs) {
        if (known->output == output)
            return known.get();
    }
    return nullptr;
}

void LayerShellConnection::seatCapabilities(std::uint32_t capabilities) {
    const bool hasKeyboard = capabilities & WL_SEAT_CAPABILITY_KEYBOARD;
    const bool hasPointer = capabilities & WL_SEAT_CAPABILITY_POINTER;
    if (hasKeyboard && !keyboard) {
        keyboard = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(keyboard, &SeatListeners::keyboard, this);
    } else if (!hasKeyboard && keyboard) {
        wl_keyboard_destroy(keyboard);
        keyboard = nullptr;
        keyboardFocus = nullptr;
        repeatTimer.stop();
    }
    if (hasPointer && !pointer) {
        pointer = wl_seat_get_pointer(seat);
        wl_pointer_add_listener(pointer, &SeatListeners::pointer, this);
    } else if (!hasPointer && pointer) {
        wl_pointer_destroy(pointer);
        pointer = nullptr;
        pointerFocus = nullptr;
    }
}

void LayerShellConnection::keymap(int fd, std::uint32_t size) {
    const UniqueFd owned(fd);
    void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (text == MAP_FAILED)
        return;
    if (!xkb.setKeymap(static_cast<const char*>(text), size))
        qWarning().noquote() << "Layer shell: the compositor's keymap does not compile";
    munmap(text, size);
}

void LayerShellConnection::key(std::uint32_t key, bool pressed) {
    repeatTimer.stop();
    auto* overlay = surfaceOf(keyboardFocus);
    const auto translated = xkb.translate(key, pressed);
    if (!overlay || !translated)
        return;
    overlay->deliverKey(*translated);
    if (pressed && repeatIntervalMs > 0 && xkb.repeats(key)) {
        repeatedKey = key;
        repeatTimer.start(repeatDelayMs);
    }
}

void LayerShellConnection::repeatKey() {
    auto* overlay = surfaceOf(keyboardFocus);
    const auto translated = xkb.translate(repeatedKey, true, true);
    if (!overlay || !translated) {
        repeatTimer.stop();
        return;
    }
    repeatTimer.setInterval(repeatIntervalMs);
    overlay->deliverKey(*translated);
}

void LayerShellConnection::pointerButton(std::uint32_t button, bool pressed) {
    Qt::MouseButton which = Qt::NoButton;
    if (button == BTN_LEFT)
        which = Qt::LeftButton;
    else if (button == BTN_RIGHT)
        which = Qt::RightButton;
    else if (button == BTN_MIDDLE)
        which = Qt::MiddleButton;
    auto* overlay = surfaceOf(pointerFocus);
    if (which == Qt::NoButton || !overlay)
        return;
    buttons.setFlag(which, pressed);
    overlay->deliverMouse(pressed ? QEvent::MouseButtonPress : QEvent::MouseButtonRelease,
                          pointerPosition, which, buttons, xkb.modifiers());
}

void LayerShellConnection::addSurface(LayerShellSurface& surface) {
    surfaces.push_back(&surface);
}

void LayerShellConnection::removeSurface(LayerShellSurface& surface) {
    std::erase(surfaces, &surface);
    if (keyboardFocus == surface.surface()) {
        keyboardFocus = nullptr;
        repeatTimer.stop();
    }
    if (pointerFocus == surface.surface())
        pointerFocus = nullptr;
}

LayerShellSurface* LayerShellConnection::surfaceOf(wl_surface* surface) const {
    if (!surface)
        return nullptr;
    const auto found = std::find_if(surfaces.begin(), surfaces.end(),
                                    [surface](auto* known) { return known->surface() == surface; });
    return found == surfaces.end() ? nullptr : *found;
}

}  // namespace platform::wayland
