// Grabs, raising and focus over xcb, the routing of map, configure, circulate and focus events of
// the root's children to the guards, and of property and shape events of the guarded windows.
#include "platform/linux/XcbGuardServer.h"

#include <xcb/shape.h>
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
    const char opacityName[] = "_NET_WM_WINDOW_OPACITY";
    auto atom = own(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, false, sizeof opacityName - 1, opacityName),
        nullptr));
    opacityAtom = atom ? atom->atom : XCB_NONE;
    const xcb_query_extension_reply_t* shape = xcb_get_extension_data(connection, &xcb_shape_id);
    if (shape && shape->present)
        shapeFirstEvent = shape->first_event;
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
    watchOwnWindow(guard.window());
}

void XcbGuardServer::watchOwnWindow(WindowId window) {
    // The toolkit's connection is ours too: keep the mask it selected and add to it.
    auto attributes = own(xcb_get_window_attributes_reply(
        connection, xcb_get_window_attributes(connection, window), nullptr));
    if (!attributes)
        return;
    const std::uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_STRUCTURE_NOTIFY |
                               XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection, window, XCB_CW_EVENT_MASK, &mask);
    if (shapeFirstEvent)
        xcb_shape_select_input(connection, window, 1);
    xcb_flush(connection);
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

void XcbGuardServer::mapWindow(WindowId window) {
    xcb_map_window(connection, window);
    xcb_flush(connection);
}

void XcbGuardServer::moveResizeWindow(WindowId window, const QRect& frame) {
    const std::uint32_t values[] = {
        static_cast<std::uint32_t>(frame.x()), static_cast<std::uint32_t>(frame.y()),
        static_cast<std::uint32_t>(frame.width()), static_cast<std::uint32_t>(frame.height())};
    xcb_configure_window(connection, window,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                             XCB_CONFIG_WINDOW_HEIGHT,
                         values);
    xcb_flush(connection);
}

bool XcbGuardServer::foreignWindowAbove(WindowId window) {
    auto tree = own(xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr));
    if (!tree)
        return false;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    const auto at = std::find(children, children + count, window);
    if (at == children + count)
        return false;
    // Bottom first: the windows above ours follow it. Their attributes are asked all at once.
    std::vector<xcb_get_window_attributes_cookie_t> cookies;
    for (const xcb_window_t* above = at + 1; above != children + count; ++above) {
        if (!guardOf(*above))
            cookies.push_back(xcb_get_window_attributes(connection, *above));
    }
    bool found = false;
    for (const auto cookie : cookies) {
        auto attributes = own(xcb_get_window_attributes_reply(connection, cookie, nullptr));
        found = found || (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE);
    }
    return found;
}

void XcbGuardServer::removeOpacity(WindowId window) {
    xcb_delete_property(connection, window, opacityAtom);
    xcb_flush(connection);
}

void XcbGuardServer::removeShape(WindowId window) {
    if (!shapeFirstEvent)
        return;
    // No mask is no shape: the window is its whole rectangle again, for sight and for clicks.
    xcb_shape_mask(connection, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, window, 0, 0, XCB_NONE);
    xcb_shape_mask(connection, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, window, 0, 0, XCB_NONE);
    xcb_flush(connection);
}

void XcbGuardServer::reparentToRoot(WindowId window, const QPoint& position) {
    xcb_reparent_window(connection, window, root, static_cast<std::int16_t>(position.x()),
                        static_cast<std::int16_t>(position.y()));
    xcb_flush(connection);
}

bool XcbGuardServer::dispatchOwnWindowChange(const xcb_generic_event_t* event) {
    const std::uint8_t type = event->response_type & 0x7f;
    if (type == XCB_PROPERTY_NOTIFY) {
        const auto* e = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        X11LockGuard* guard = guardOf(e->window);
        if (!guard)
            return false;
        if (e->atom == opacityAtom && e->state == XCB_PROPERTY_NEW_VALUE)
            guard->windowMadeTransparent();
        return true;
    }
    if (shapeFirstEvent && type == shapeFirstEvent + XCB_SHAPE_NOTIFY) {
        const auto* e = reinterpret_cast<const xcb_shape_notify_event_t*>(event);
        X11LockGuard* guard = guardOf(e->affected_window);
        if (!guard)
            return false;
        if (e->shaped)
            guard->windowShaped();
        return true;
    }
    return false;
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
    if (dispatchOwnWindowChange(event))
        return false;  // the toolkit follows its windows' properties too
    const WindowId child = rootChildOf(event);
    if (child == XCB_NONE)
        return false;
    dispatch(event, child);
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

void XcbGuardServer::dispatch(const xcb_generic_event_t* event, WindowId window) {
    const std::uint8_t type = event->response_type & 0x7f;
    if (X11LockGuard* own = guardOf(window)) {
        if (type == XCB_MAP_NOTIFY) {
            own->windowMapped();
        } else if (type == XCB_UNMAP_NOTIFY) {
            own->windowUnmapped();
        } else if (type == XCB_CONFIGURE_NOTIFY) {
            const auto* e = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
            own->windowConfigured(QRect(e->x, e->y, e->width, e->height));
        } else if (type == XCB_CIRCULATE_NOTIFY) {
            own->windowRestacked();
        } else if (type == XCB_REPARENT_NOTIFY &&
                   reinterpret_cast<const xcb_reparent_notify_event_t*>(event)->parent != root) {
            own->windowReparented();
        }
        // Other guards are not told: our own windows restacking each other must not start a
        // raising contest among them.
        return;
    }
    if (type != XCB_MAP_NOTIFY && type != XCB_CONFIGURE_NOTIFY && type != XCB_CIRCULATE_NOTIFY)
        return;
    for (X11LockGuard* guard : std::vector<X11LockGuard*>(guards))
        guard->otherTopLevelChanged();
}

}  // namespace platform::x11
