// An overlay surface showing a widget: the layer surface's configure gives the size, the widget is
// drawn into a free shared-memory buffer with QWidget::render, and drawn again (at most once a
// frame) whenever the toolkit asks the widget's window to repaint.
#include "platform/linux/LayerShellSurface.h"

#include <sys/mman.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QWindow>

#include "platform/linux/LayerShellConnection.h"
#include "platform/linux/UniqueFd.h"

namespace platform::wayland {

namespace {

constexpr std::uint32_t allEdges =
    ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
    ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT;
// What the compositor may show of the surface's purpose.
constexpr char surfaceNamespace[] = "vaultine-lock";

}  // namespace

struct SurfaceListeners {
    static LayerShellSurface& of(void* data) { return *static_cast<LayerShellSurface*>(data); }

    static constexpr zwlr_layer_surface_v1_listener layer = {
        .configure = [](void* data, zwlr_layer_surface_v1*, std::uint32_t serial,
                        std::uint32_t width,
                        std::uint32_t height) { of(data).configure(serial, width, height); },
        .closed = [](void* data, zwlr_layer_surface_v1*) { of(data).closed(); },
    };
    static constexpr wl_buffer_listener buffer = {
        .release = [](void* data, wl_buffer* buffer) { of(data).bufferReleased(buffer); },
    };
    static constexpr wl_callback_listener frame = {
        .done = [](void* data, wl_callback*, std::uint32_t) { of(data).frameDone(); },
    };
};

std::unique_ptr<ShmBuffer> ShmBuffer::create(wl_shm* shm, QSize pixels) {
    if (pixels.isEmpty())
        return nullptr;
    std::unique_ptr<ShmBuffer> result(new ShmBuffer);
    result->pixels = pixels;
    result->length = static_cast<std::size_t>(result->stride()) * pixels.height();
    const UniqueFd fd(memfd_create("vaultine-overlay", MFD_CLOEXEC));
    if (!fd || ftruncate(fd.get(), static_cast<off_t>(result->length)) != 0)
        return nullptr;
    result->memory = mmap(nullptr, result->length, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (result->memory == MAP_FAILED) {
        result->memory = nullptr;
        return nullptr;
    }
    wl_shm_pool* pool =
        wl_shm_create_pool(shm, fd.get(), static_cast<std::int32_t>(result->length));
    result->handle = wl_shm_pool_create_buffer(pool, 0, pixels.width(), pixels.height(),
                                               result->stride(), WL_SHM_FORMAT_ARGB8888);
    wl_shm_pool_destroy(pool);
    return result;
}

ShmBuffer::~ShmBuffer() {
    if (handle)
        wl_buffer_destroy(handle);
    if (memory)
        munmap(memory, length);
}

LayerShellSurface::LayerShellSurface(LayerShellConnection& connection, QWidget& shown,
                                     wl_output* output, bool takesKeyboard)
    : connection(connection), widget(&shown) {
    sinceAsked.start();
    if (const auto* known = connection.outputOf(output))
        scale = known->scale;
    wlSurface.reset(wl_compositor_create_surface(connection.compositor()));
    layerSurface.reset(
        zwlr_layer_shell_v1_get_layer_surface(connection.layerShell(), wlSurface.get(), output,
                                              ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, surfaceNamespace));
    zwlr_layer_surface_v1_add_listener(layerSurface.get(), &SurfaceListeners::layer, this);
    zwlr_layer_surface_v1_set_anchor(layerSurface.get(), allEdges);
    zwlr_layer_surface_v1_set_size(layerSurface.get(), 0, 0);
    // Over the whole output, panels and bars included.
    zwlr_layer_surface_v1_set_exclusive_zone(layerSurface.get(), -1);
    zwlr_layer_surface_v1_set_keyboard_interactivity(
        layerSurface.get(), takesKeyboard ? ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_EXCLUSIVE
                                          : ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE);
    wl_surface_set_buffer_scale(wlSurface.get(), scale);
    wl_surface_commit(wlSurface.get());
    connection.addSurface(*this);
    connection.flush();
    shown.installEventFilter(this);
}

LayerShellSurface::~LayerShellSurface() {
    if (widget)
        widget->removeEventFilter(this);
    connection.removeSurface(*this);
    frameCallback.reset();
    layerSurface.reset();
    wlSurface.reset();
    for (auto& buffer : buffers)
        buffer.reset();
    connection.flush();
}

void LayerShellSurface::configure(std::uint32_t serial, std::uint32_t width, std::uint32_t height) {
    zwlr_layer_surface_v1_ack_configure(layerSurface.get(), serial);
    const QSize size(static_cast<int>(width), static_cast<int>(height));
    logicalSize = size.isEmpty() && widget ? widget->size() : size;
    // The widget is laid out for the surface it is shown on.
    if (widget && widget->size() != logicalSize)
        widget->resize(logicalSize);
    configured = true;
    draw();
}

void LayerShellSurface::closed() {
    isClosed = true;
    if (onClosed)
        onClosed();
}

bool LayerShellSurface::eventFilter(QObject* watched, QEvent* event) {
    // Every repaint of the widget or its children comes to the window as an update request.
    if (watched == widget && event->type() == QEvent::UpdateRequest)
        scheduleDraw();
    return false;
}

void LayerShellSurface::scheduleDraw() {
    if (drawQueued)
        return;
    drawQueued = true;
    // After the toolkit has finished this turn's changes to the widgets.
    QTimer::singleShot(0, this, [this] {
        drawQueued = false;
        draw();
    });
}

ShmBuffer* LayerShellSurface::freeBuffer() {
    const QSize pixels = logicalSize * scale;
    for (auto& buffer : buffers) {
        if (buffer && buffer->size() != pixels && !buffer->busy)
            buffer.reset();
        if (!buffer) {
            buffer = ShmBuffer::create(connection.shm(), pixels);
            if (!buffer)
                return nullptr;
            wl_buffer_add_listener(buffer->buffer(), &SurfaceListeners::buffer, this);
        }
        if (!buffer->busy)
            return buffer.get();
    }
    return nullptr;
}

void LayerShellSurface::draw() {
    if (!configured || isClosed || !widget || connection.isLost())
        return;
    ShmBuffer* buffer = frameCallback ? nullptr : freeBuffer();
    if (!buffer) {
        // Drawn when the compositor is ready for the next frame or gives a buffer back.
        dirty = true;
        return;
    }
    dirty = false;
    QImage image(buffer->bits(), buffer->size().width(), buffer->size().height(), buffer->stride(),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(widget->palette().window().color());
    widget->render(&image, QPoint(), QRegion(),
                   QWidget::DrawWindowBackground | QWidget::DrawChildren);
    wl_surface_attach(wlSurface.get(), buffer->buffer(), 0, 0);
    wl_surface_damage_buffer(wlSurface.get(), 0, 0, buffer->size().width(),
                             buffer->size().height());
    frameCallback.reset(wl_surface_frame(wlSurface.get()));
    wl_callback_add_listener(frameCallback.get(), &SurfaceListeners::frame, this);
    wl_surface_commit(wlSurface.get());
    buffer->busy = true;
    connection.flush();
    if (!firstFrameDrawn) {
        firstFrameDrawn = true;
        if (onFirstFrame)
            onFirstFrame(sinceAsked.elapsed());
    }
}

void LayerShellSurface::bufferReleased(wl_buffer* released) {
    for (const auto& buffer : buffers) {
        if (buffer && buffer->buffer() == released)
            buffer->busy = false;
    }
    if (dirty)
        scheduleDraw();
}

void LayerShellSurface::frameDone() {
    frameCallback.reset();
    if (dirty)
        scheduleDraw();
}

void LayerShellSurface::keyboardEntered() {
    // The widgets take typed keys only in the active window: the overlay's is ours while it has
    // the keyboard, whatever the toolkit's own connection was told.
    if (widget && QApplication::activeWindow() != widget)
        QApplication::setActiveWindow(widget);
}

void LayerShellSurface::deliverKey(const TranslatedKey& key) {
    if (!widget)
        return;
    keyboardEntered();
    QKeyEvent event = key.event();
    // Through the widget's window, as the toolkit's own keys come: the program's event filters
    // see it there, and the window hands it to the focused widget.
    QObject* receiver = widget->windowHandle();
    if (!receiver)
        receiver = widget->focusWidget() ? widget->focusWidget() : widget.data();
    QCoreApplication::sendEvent(receiver, &event);
}

void LayerShellSurface::deliverMouse(QEvent::Type type, QPointF position, Qt::MouseButton button,
                                     Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
    if (!widget)
        return;
    QWidget* target = widget->childAt(position.toPoint());
    if (!target)
        target = widget;
    const QPointF local = target->mapFrom(widget, position);
    const QPointF global = widget->mapToGlobal(position);
    QMouseEvent event(type, local, local, global, button, buttons, modifiers);
    QCoreApplication::sendEvent(target, &event);
}

}  // namespace platform::wayland
