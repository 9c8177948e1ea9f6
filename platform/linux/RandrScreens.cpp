// RandR monitors as the screens of the desktop, followed through root configure and RandR events.
#include "platform/linux/RandrScreens.h"

#include <xcb/randr.h>

#include <QGuiApplication>
#include <cmath>

#include "platform/WindowSystem.h"
#include "platform/linux/XcbReply.h"

namespace platform::x11 {

namespace {

constexpr std::uint16_t randrEvents =
    XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE |
    XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE | XCB_RANDR_NOTIFY_MASK_RESOURCE_CHANGE;

bool hasMonitors(xcb_connection_t* connection) {
    const xcb_query_extension_reply_t* randr = xcb_get_extension_data(connection, &xcb_randr_id);
    if (!randr || !randr->present)
        return false;
    const auto version = own(xcb_randr_query_version_reply(
        connection, xcb_randr_query_version(connection, 1, 5), nullptr));
    return version && (version->major_version > 1 ||
                       (version->major_version == 1 && version->minor_version >= 5));
}

// Device pixels to the toolkit's coordinates: the origin stays, the size shrinks by the ratio
// (rounded up, so that a cover never falls short of its monitor's edge).
QRect toolkitFrame(int x, int y, int width, int height) {
    const qreal ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    if (ratio <= 0 || ratio == 1.0)
        return QRect(x, y, width, height);
    return QRect(x, y, static_cast<int>(std::ceil(width / ratio)),
                 static_cast<int>(std::ceil(height / ratio)));
}

}  // namespace

std::unique_ptr<RandrScreens> RandrScreens::connect() {
    // Only for our windows on X11: the offscreen platform may hold an X connection of its own,
    // and a Wayland session's Xwayland says nothing of the compositor's outputs.
    if (!windowsAreX11())
        return nullptr;
    int screenNumber = 0;
    Connection connection(xcb_connect(nullptr, &screenNumber));
    if (xcb_connection_has_error(connection.get()) || !hasMonitors(connection.get()))
        return nullptr;
    xcb_screen_iterator_t roots = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
    for (int i = 0; i < screenNumber && roots.rem; ++i)
        xcb_screen_next(&roots);
    if (!roots.rem)
        return nullptr;
    const std::uint8_t firstEvent =
        xcb_get_extension_data(connection.get(), &xcb_randr_id)->first_event;
    return std::unique_ptr<RandrScreens>(
        new RandrScreens(std::move(connection), roots.data->root, firstEvent));
}

RandrScreens::RandrScreens(Connection connection, xcb_window_t root, std::uint8_t randrFirstEvent)
    : connection(std::move(connection)), root(root), randrFirstEvent(randrFirstEvent) {
    xcb_connection_t* c = this->connection.get();
    // Our own mask on the root: the server tells each client that asked. A monitor set or
    // removed with `xrandr --setmonitor` reaches clients only as a configure of the root.
    const std::uint32_t rootEvents = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &rootEvents);
    xcb_randr_select_input(c, root, randrEvents);
    readMonitors();
    notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c), QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(),
                     [this] { handleEvents(); });
    // Events read along with the replies above wait in xcb's queue, not on the socket.
    handleEvents();
}

RandrScreens::~RandrScreens() = default;

std::optional<Screen> RandrScreens::mainScreen() {
    if (mainIndex >= current.size())
        return std::nullopt;
    return current[mainIndex];
}

ObserverList<>::Id RandrScreens::addChangeObserver(std::function<void()> handler) {
    return observers.add(std::move(handler));
}

void RandrScreens::removeChangeObserver(ObserverList<>::Id id) {
    observers.remove(id);
}

void RandrScreens::handleEvents() {
    xcb_connection_t* c = connection.get();
    bool changed = false;
    // The monitors are read after the last event of a burst; reading may queue new events, so
    // the loop goes on until a pass finds none about the screens.
    for (;;) {
        bool screenEvent = false;
        while (xcb_generic_event_t* raw = xcb_poll_for_event(c)) {
            const auto event = own(raw);
            screenEvent = screenEvent || isScreenEvent(*event);
        }
        if (!screenEvent || xcb_connection_has_error(c))
            break;
        changed = readMonitors() || changed;
    }
    if (xcb_connection_has_error(c)) {
        // The X server went away: the last list stays, and no more events come.
        notifier.reset();
        return;
    }
    if (changed)
        observers.notify();
}

bool RandrScreens::isScreenEvent(const xcb_generic_event_t& event) const {
    const std::uint8_t type = event.response_type & 0x7f;
    if (type == XCB_CONFIGURE_NOTIFY)
        return reinterpret_cast<const xcb_configure_notify_event_t&>(event).window == root;
    return type == randrFirstEvent + XCB_RANDR_SCREEN_CHANGE_NOTIFY ||
           type == randrFirstEvent + XCB_RANDR_NOTIFY;
}

bool RandrScreens::readMonitors() {
    xcb_connection_t* c = connection.get();
    const auto reply =
        own(xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, root, 1), nullptr));
    if (!reply)
        return false;
    std::vector<Screen> monitors;
    std::vector<QRect> deviceFrames;
    std::size_t primary = 0;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem;
         xcb_randr_monitor_info_next(&it)) {
        const xcb_randr_monitor_info_t& info = *it.data;
        if (info.width == 0 || info.height == 0)
            continue;
        if (info.primary)
            primary = monitors.size();
        monitors.push_back(
            {atomName(info.name), toolkitFrame(info.x, info.y, info.width, info.height)});
        deviceFrames.emplace_back(info.x, info.y, info.width, info.height);
    }
    // Monitors need not cover the X screen (`xrandr --setmonitor` names any rectangle): the rest
    // of the root window is listed too, so that it gets covers. Without monitors it is the root.
    const auto geometry = own(xcb_get_geometry_reply(c, xcb_get_geometry(c, root), nullptr));
    if (geometry) {
        const QRect whole(0, 0, geometry->width, geometry->height);
        for (const QRect& part : uncoveredParts(whole, deviceFrames))
            monitors.push_back(
                {QString(), toolkitFrame(part.x(), part.y(), part.width(), part.height())});
    }
    const bool changed = monitors != current || primary != mainIndex;
    current = std::move(monitors);
    mainIndex = primary;
    return changed;
}

QString RandrScreens::atomName(xcb_atom_t atom) {
    if (const auto known = atomNames.find(atom); known != atomNames.end())
        return known->second;
    xcb_connection_t* c = connection.get();
    const auto reply = own(xcb_get_atom_name_reply(c, xcb_get_atom_name(c, atom), nullptr));
    if (!reply)
        return QString();
    QString name = QString::fromUtf8(xcb_get_atom_name_name(reply.get()),
                                     xcb_get_atom_name_name_length(reply.get()));
    atomNames.emplace(atom, name);
    return name;
}

}  // namespace platform::x11
