// Vaultine's own connection to the Wayland compositor, beside the toolkit's: the globals our
// overlay surfaces need (compositor, shared memory, layer shell), the outputs with their names and
// places, and the seat's keyboard and pointer, whose events go to the overlay surface they are for.
#pragma once

#include <QObject>
#include <QPointF>
#include <QRect>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>
#include <memory>
#include <vector>

#include "platform/linux/LayerShellKeyboard.h"
#include "platform/linux/LayerShellProtocol.h"

namespace platform::wayland {

class LayerShellSurface;

class LayerShellConnection : public QObject {
    Q_OBJECT

  public:
    // The connection, made at the first call on the main thread; none when there is no Wayland
    // display to connect to or its compositor offers no layer shell. Once lost it stays lost.
    static LayerShellConnection* shared();
    ~LayerShellConnection() override;

    struct Output {
        std::uint32_t global = 0;
        wl_output* output = nullptr;
        zxdg_output_v1* xdgOutput = nullptr;
        QString name;
        QPoint position;
        int scale = 1;
    };
    // The output showing the toolkit's screen `screenName` at `frame`: by name, else by place.
    // A screen the toolkit has just learned of may still be on its way here: one round trip more
    // before giving up. None when no output matches.
    const Output* outputFor(const QString& screenName, const QRect& frame);
    const Output* outputOf(wl_output* output) const;

    wl_compositor* compositor() const { return compositorGlobal; }
    wl_shm* shm() const { return shmGlobal; }
    zwlr_layer_shell_v1* layerShell() const { return layerShellGlobal; }
    bool isLost() const { return lost; }
    // Sends what was asked; a failure marks the connection lost.
    void flush();

    void addSurface(LayerShellSurface& surface);
    void removeSurface(LayerShellSurface& surface);

  Q_SIGNALS:
    // The compositor closed the connection or refused a request: every overlay surface is gone.
    void connectionLost();

  private:
    explicit LayerShellConnection(wl_display* display);
    bool roundTrip();
    void readEvents();
    void markLost();
    LayerShellSurface* surfaceOf(wl_surface* surface) const;

    static void registryGlobal(void* data, wl_registry* registry, std::uint32_t name,
                               const char* interface, std::uint32_t version);
    static void registryGlobalRemove(void* data, wl_registry* registry, std::uint32_t name);
    void addOutput(std::uint32_t global, std::uint32_t version);
    void describeOutput(Output& output);
    void seatCapabilities(std::uint32_t capabilities);

    // Input from the seat, for the surface it is over.
    friend struct SeatListeners;
    void keymap(int fd, std::uint32_t size);
    void key(std::uint32_t key, bool pressed);
    void repeatKey();
    void pointerButton(std::uint32_t button, bool pressed);

    wl_display* display;
    wl_registry* registry = nullptr;
    wl_compositor* compositorGlobal = nullptr;
    wl_shm* shmGlobal = nullptr;
    zwlr_layer_shell_v1* layerShellGlobal = nullptr;
    zxdg_output_manager_v1* xdgOutputManager = nullptr;
    wl_seat* seat = nullptr;
    wl_keyboard* keyboard = nullptr;
    wl_pointer* pointer = nullptr;
    std::vector<std::unique_ptr<Output>> outputs;
    std::vector<LayerShellSurface*> surfaces;
    std::unique_ptr<QSocketNotifier> notifier;
    bool lost = false;

    XkbKeyboard xkb;
    wl_surface* keyboardFocus = nullptr;
    wl_surface* pointerFocus = nullptr;
    QPointF pointerPosition;
    Qt::MouseButtons buttons;
    // The compositor's key repeat: the held key and its pace.
    QTimer repeatTimer;
    std::uint32_t repeatedKey = 0;
    int repeatDelayMs = 600;
    int repeatIntervalMs = 40;
};

}  // namespace platform::wayland
