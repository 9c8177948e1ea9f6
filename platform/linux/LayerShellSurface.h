// One overlay surface of our own Wayland connection: a layer-shell surface over a whole output,
// above every window, showing a widget of ours drawn into shared-memory buffers and drawn again
// whenever the widget asks to be repainted; the lock's one holds the keyboard.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

#include "platform/linux/LayerShellKeyboard.h"
#include "platform/linux/LayerShellProtocol.h"

namespace platform::wayland {

class LayerShellConnection;

// A wl_buffer over its own shared memory, drawn into as an image.
class ShmBuffer {
  public:
    static std::unique_ptr<ShmBuffer> create(wl_shm* shm, QSize pixels);
    ~ShmBuffer();
    ShmBuffer(const ShmBuffer&) = delete;
    ShmBuffer& operator=(const ShmBuffer&) = delete;

    wl_buffer* buffer() const { return handle; }
    QSize size() const { return pixels; }
    uchar* bits() const { return static_cast<uchar*>(memory); }
    int stride() const { return pixels.width() * 4; }
    // Between its attach and the compositor's release the buffer may not be drawn into.
    bool busy = false;

  private:
    ShmBuffer() = default;
    wl_buffer* handle = nullptr;
    void* memory = nullptr;
    std::size_t length = 0;
    QSize pixels;
};

class LayerShellSurface : public QObject {
    Q_OBJECT

  public:
    // Asks for an overlay surface on `output` (none: the compositor chooses) showing `widget`;
    // drawn once the compositor has told its size. `takesKeyboard`: exclusive keyboard focus.
    LayerShellSurface(LayerShellConnection& connection, QWidget& widget, wl_output* output,
                      bool takesKeyboard);
    ~LayerShellSurface() override;

    wl_surface* surface() const { return wlSurface.get(); }
    // The compositor no longer shows it (its output went): told once, from the event's dispatch.
    std::function<void()> onClosed;
    // The first frame is on the output, `elapsedMs` after the surface was asked for.
    std::function<void(qint64 elapsedMs)> onFirstFrame;

    // Input the connection's seat gives this surface.
    void keyboardEntered();
    void deliverKey(const TranslatedKey& key);
    void deliverMouse(QEvent::Type type, QPointF position, Qt::MouseButton button,
                      Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    friend struct SurfaceListeners;
    void configure(std::uint32_t serial, std::uint32_t width, std::uint32_t height);
    void closed();
    void bufferReleased(wl_buffer* buffer);
    void frameDone();
    void scheduleDraw();
    void draw();
    ShmBuffer* freeBuffer();

    LayerShellConnection& connection;
    QPointer<QWidget> widget;
    int scale = 1;
    ProtocolObject<wl_surface> wlSurface;
    ProtocolObject<zwlr_layer_surface_v1> layerSurface;
    ProtocolObject<wl_callback> frameCallback;
    std::array<std::unique_ptr<ShmBuffer>, 2> buffers;
    QSize logicalSize;
    bool configured = false;
    bool dirty = false;
    bool drawQueued = false;
    bool isClosed = false;
    bool firstFrameDrawn = false;
    QElapsedTimer sinceAsked;
};

}  // namespace platform::wayland
