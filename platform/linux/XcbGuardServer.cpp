// Grabs, raising and focus over xcb, and the routing of map, configure, circulate and focus events
// of the root's children to the guards.
#include "platform/linux/XcbGuardServer.h"

#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <algorithm>

#include "platform/linux/XcbReply.h"

namespace platform::x11 {

namespace {

constexpr std::uint32_t pointerEvents =
    XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION;

}  // namespace

XcbGuardServer* XcbGuardServer::instance() {
    static XcbGuardServer* server = []() -> XcbGuardServer* {
        auto* x11 =
            qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        if (!x11 || !x11->connection())
            return nullptr;
        xcb_connection_t* connection = x11->connection();
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        // Lives as long as the program, like the toolkit's connection it works on.
        static XcbGuardServer instance(connection, screen->root);
        return &instance;
    }();
    return server;
}

XcbGuardServer::XcbGuardServer(xcb_connection_t* connection, WindowId root)
    : connection(connection), root(root) {
    watchRootSubstructure();
    QCoreApplication::instance()->installNativeEventFilter(this);
}

void XcbGuardServer::watchRootSubstructure() {
    // Each client has its own event mask on the root: add ours to what the toolkit selected.
    auto attributes = own(xcb_get_window_attributes_reply(
        connection, xcb_get_window_attributes(connection, root), nullptr));
    std::uint32_t mask = attributes ? attributes->your_event_mask : 0;
    substructureOwnedByToolkit = mask & XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    mask |= XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection);
}

void XcbGuardServer::add(X11LockGuard& guard) {
    guards.push_back(&guard);
}

void XcbGuardServer::remove(X11LockGuard& guard) {
    guards.erase(std::remove(guards.begin(), guards.end(), &guard), guards.end());
}

X11LockGuard* XcbGuardServer::guardOf(WindowId window) const {
    const auto found = std::find_if(guards.begin(), guards.end(), [window](X11LockGuard* guard) {
        return guard->window() == window;
    });
    return found == guards.end() ? nullptr : *found;
}

bool XcbGuardServer::grabKeyboard(WindowId window) {
    // Not owner-events: every key goes to the lock window, whichever window has the focus.
    auto reply =
        own(xcb_grab_keyboard_reply(connection,
                                    xcb_grab_keyboard(connection, false, window, XCB_CURRENT_TIME,
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                    nullptr));
    return reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
}

bool XcbGuardServer::grabPointer(WindowId window) {
    // Owner-events: clicks on our own windows (the field) arrive as usual, all others at `window`.
    auto reply = own(xcb_grab_pointer_reply(
        connection,
        xcb_grab_pointer(connection, true, window, pointerEvents, XCB_GRAB_MODE_ASYNC,
                         XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE, XCB_CURRENT_TIME),
        nullptr));
    return reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
}

void XcbGuardServer::ungrabKeyboard() {
    xcb_ungrab_keyboard(connection, XCB_CURRENT_TIME);
    afterUngrab();
}

void XcbGuardServer::ungrabPointer() {
    xcb_ungrab_pointer(connection, XCB_CURRENT_TIME);
    afterUngrab();
}

void XcbGuardServer::afterUngrab() {
    xcb_flush(connection);
    // Grabs belong to the client, not to a window: a guard that ends takes them from any other
    // guard still wanting input, which takes them back at once.
    for (X11LockGuard* guard : std::vector<X11LockGuard*>(guards)) {
        if (guard->wantsInput() && (guard->holdsKeyboard() || guard->holdsPointer()))
            guard->grabMayBeLost();
    }
}

void XcbGuardServer::setInputFocus(WindowId window) {
    xcb_set_input_focus(connection, XCB_INPUT_FOCUS_PARENT, window, XCB_CURRENT_TIME);
    xcb_flush(connection);
}

void XcbGuardServer::raiseWindow(WindowId window) {
    const std::uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(connection, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    xcb_flush(connection);
}

bool XcbGuardServer::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const std::uint8_t type = event->response_type & 0x7f;
    if (type == XCB_FOCUS_OUT) {
        const auto* focus = reinterpret_cast<const xcb_focus_out_event_t*>(event);
        X11LockGuard* own = guardOf(focus->event);
        if (own && (focus->mode == XCB_NOTIFY_MODE_GRAB || focus->mode == XCB_NOTIFY_MODE_UNGRAB))
            own->grabMayBeLost();
        return false;  // the toolkit tracks focus too
    }
    const WindowId child = rootChildOf(event);
    if (child == XCB_NONE)
        return false;
    dispatch(type, child);
    // What the root's substructure reports is ours alone: the toolkit did not ask for it and
    // would take a configure event reported to the root for a change of the screens.
    return !substructureOwnedByToolkit;
}

WindowId XcbGuardServer::rootChildOf(const xcb_generic_event_t* event) const {
    // Each structure event names the window it was reported to and the window it is about.
    auto child = [this](WindowId reportedTo, WindowId about) {
        return reportedTo == root && about != root ? about : WindowId(XCB_NONE);
    };
    switch (event->response_type & 0x7f) {
        case XCB_CREATE_NOTIFY: {
            const auto* e = reinterpret_cast<const xcb_create_notify_event_t*>(event);
            return child(e->parent, e->window);
        }
        case XCB_DESTROY_NOTIFY: {
            const auto* e = reinterpret_cast<const xcb_destroy_notify_event_t*>(event);
            return child(e->event, e->window);
        }
        case XCB_MAP_NOTIFY: {
            const auto* e = reinterpret_cast<const xcb_map_notify_event_t*>(event);
            return child(e->event, e->window);
        }
        case XCB_UNMAP_NOTIFY: {
            const auto* e = reinterpret_cast<const xcb_unmap_notify_event_t*>(event);
            return child(e->event, e->window);
        }
        case XCB_REPARENT_NOTIFY: {
            const auto* e = reinterpret_cast<const xcb_reparent_notify_event_t*>(event);
            return child(e->event, e->window);
        }
        case XCB_CONFIGURE_NOTIFY: {
            const auto* e = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
            return child(e->event, e->window);
        }
        case XCB_GRAVITY_NOTIFY: {
            const auto* e = reinterpret_cast<const xcb_gravity_notify_event_t*>(event);
            return child(e->event, e->window);
        }
        case XCB_CIRCULATE_NOTIFY: {
            const auto* e = reinterpret_cast<const xcb_circulate_notify_event_t*>(event);
            return child(e->event, e->window);
        }
        default:
            return XCB_NONE;
    }
}

void XcbGuardServer::dispatch(std::uint8_t type, WindowId window) {
    if (X11LockGuard* own = guardOf(window)) {
        if (type == XCB_MAP_NOTIFY)
            own->windowMapped();
        else if (type == XCB_UNMAP_NOTIFY)
            own->windowUnmapped();
        // Our own windows restacking each other must not start a raising contest among them.
        return;
    }
    if (type != XCB_MAP_NOTIFY && type != XCB_CONFIGURE_NOTIFY && type != XCB_CIRCULATE_NOTIFY)
        return;
    for (X11LockGuard* guard : std::vector<X11LockGuard*>(guards))
        guard->otherTopLevelChanged();
}

}  // namespace platform::x11
