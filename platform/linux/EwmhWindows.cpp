// Follows _NET_CLIENT_LIST and _NET_ACTIVE_WINDOW on the root window through an xcb connection
// of our own, read from the main loop, sends the _NET_ACTIVE_WINDOW activation request, and lists
// the server's clients through the X-Resource extension whenever a client may have connected.
#include "platform/linux/EwmhWindows.h"

#include <dlfcn.h>
#include <sys/inotify.h>
#include <xcb/res.h>
#include <xcb/xcb.h>

#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cstring>

#include "platform/linux/XcbReply.h"

namespace platform {

namespace {

using x11::own;

std::uint32_t internAtom(xcb_connection_t* connection, const char* name) {
    const auto reply = own(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr));
    return reply ? reply->atom : 0;
}

// Pager requests are the ones a window manager honours without focus-stealing prevention.
constexpr std::uint32_t sourceIndicationPager = 2;
// Far more windows than any desktop holds; bounds what a hostile property can make us read.
constexpr std::uint32_t maximumWindows = 1 << 16;
// After a sign that a client may connect, the server's client list is read this long after it: a
// starting program connects a few milliseconds after it loads the X client library, a heavy one
// (or one seen by the process watcher's sweep before it got there) seconds later. A window
// embedded into another client's window ("-into") is made where no root event tells of it, so its
// client is found this way.
constexpr std::array<int, 6> clientFollowUpsMs = {20, 100, 300, 1000, 3000, 10000};
// Longer than any real class or application id, in 32-bit units.
constexpr std::uint32_t maximumNameLength = 256;

QByteArray propertyBytes(const xcb_get_property_reply_t* reply) {
    if (!reply || reply->format != 8)
        return {};
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply)),
                      xcb_get_property_value_length(reply));
}

}  // namespace

void EwmhWindows::ConnectionDeleter::operator()(xcb_connection_t* c) const {
    xcb_disconnect(c);
}

EwmhWindows::EwmhWindows() {
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return;
    int screenNumber = 0;
    connection.reset(xcb_connect(nullptr, &screenNumber));
    if (dropBrokenConnection())
        return;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem) {
        connection.reset();
        return;
    }
    root = screens.data->root;
    clientListAtom = internAtom(connection.get(), "_NET_CLIENT_LIST");
    stackingAtom = internAtom(connection.get(), "_NET_CLIENT_LIST_STACKING");
    activeWindowAtom = internAtom(connection.get(), "_NET_ACTIVE_WINDOW");
    pidAtom = internAtom(connection.get(), "_NET_WM_PID");
    gtkApplicationIdAtom = internAtom(connection.get(), "_GTK_APPLICATION_ID");
    kdeDesktopFileAtom = internAtom(connection.get(), "_KDE_NET_WM_DESKTOP_FILE");
    const xcb_query_extension_reply_t* resource =
        xcb_get_extension_data(connection.get(), &xcb_res_id);
    if (resource && resource->present) {
        // Naming a client's process came with version 1.2.
        const auto version = own(xcb_res_query_version_reply(
            connection.get(), xcb_res_query_version(connection.get(), 1, 2), nullptr));
        hasClientIds = version && (version->server_major > 1 ||
                                   (version->server_major == 1 && version->server_minor >= 2));
    }
    // Substructure events tell of every new top-level window, override-redirect ones included.
    const std::uint32_t events =
        XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection.get(), root, XCB_CW_EVENT_MASK, &events);
    refreshClientList(false);
    refreshActiveWindow();
    refreshClients(false);
    if (dropBrokenConnection())
        return;
    if (hasClientIds) {
        clientFollowUp.setSingleShot(true);
        connect(&clientFollowUp, &QTimer::timeout, this, [this] { followUpClients(); });
        watchClientLibrary();
    }
    notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection.get()),
                                                 QSocketNotifier::Read, this);
    connect(notifier.get(), &QSocketNotifier::activated, this, [this] { handleEvents(); });
    drainSoon();
}

EwmhWindows::~EwmhWindows() = default;

bool EwmhWindows::dropBrokenConnection() {
    if (connection && !xcb_connection_has_error(connection.get()))
        return false;
    // The X server went away: from now on there are no window events, never a crash.
    notifier.reset();
    connection.reset();
    clientFollowUp.stop();
    libraryNotifier.reset();
    libraryOpens.reset();
    ownersByWindow.clear();
    return true;
}

void EwmhWindows::handleEvents() {
    drainScheduled = false;
    if (!connection)
        return;
    bool clientListChanged = false;
    bool activeChanged = false;
    bool windowCreated = false;
    while (xcb_generic_event_t* raw = xcb_poll_for_event(connection.get())) {
        const auto event = own(raw);
        windowCreated = windowCreated || (event->response_type & 0x7f) == XCB_CREATE_NOTIFY;
        if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
            continue;
        const auto* property = reinterpret_cast<const xcb_property_notify_event_t*>(raw);
        if (property->window != root)
            continue;
        clientListChanged = clientListChanged || property->atom == clientListAtom;
        activeChanged = activeChanged || property->atom == activeWindowAtom;
    }
    if (dropBrokenConnection())
        return;
    if (clientListChanged)
        refreshClientList(true);
    if (activeChanged)
        refreshActiveWindow();
    // A new top-level window's client need not wait for the next look at the client list.
    if (windowCreated)
        refreshClients(true);
    // Replies waited for above may have queued events that the socket will not announce again.
    if (clientListChanged || activeChanged || windowCreated)
        drainSoon();
}

void EwmhWindows::drainSoon() {
    if (drainScheduled)
        return;
    drainScheduled = true;
    QTimer::singleShot(0, this, [this] { handleEvents(); });
}

std::vector<EwmhWindows::WindowId> EwmhWindows::windowList(std::uint32_t property) {
    std::vector<WindowId> windows;
    if (!connection || !property)
        return windows;
    const auto reply = own(xcb_get_property_reply(
        connection.get(),
        xcb_get_property(connection.get(), 0, root, property, XCB_ATOM_WINDOW, 0, maximumWindows),
        nullptr));
    if (!reply || reply->format != 32 || reply->type != XCB_ATOM_WINDOW)
        return windows;
    const auto* values = static_cast<const WindowId*>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / 4;
    windows.assign(values, values + count);
    return windows;
}

void EwmhWindows::refreshClientList(bool report) {
    const std::vector<WindowId> windows = windowList(clientListAtom);
    std::map<WindowId, pid_t> current;
    std::vector<WindowId> unknown;
    for (const WindowId window : windows) {
        const auto known = ownersByWindow.find(window);
        if (known != ownersByWindow.end() && known->second)
            current.insert(*known);
        else
            unknown.push_back(window);
    }
    ownersByWindow = std::move(current);
    if (!report) {
        readOwners(unknown);
        return;
    }
    const std::vector<WindowIdentity> appeared = readIdentities(unknown);
    if (!appeared.empty() && onWindowsAppeared)
        onWindowsAppeared(appeared);
}

// The owner and the declared names of new windows, asked for together: one round trip for all.
std::vector<WindowIdentity> EwmhWindows::readIdentities(const std::vector<WindowId>& windows) {
    xcb_connection_t* c = connection.get();
    struct Cookies {
        xcb_get_property_cookie_t pid, wmClass, gtkId, kdeFile;
        xcb_res_query_client_ids_cookie_t client;
    };
    std::vector<Cookies> cookies;
    cookies.reserve(windows.size());
    for (const WindowId window : windows) {
        xcb_res_client_id_spec_t spec{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
        cookies.push_back({
            xcb_get_property(c, 0, window, pidAtom, XCB_ATOM_CARDINAL, 0, 1),
            xcb_get_property(c, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0,
                             maximumNameLength),
            xcb_get_property(c, 0, window, gtkApplicationIdAtom, XCB_GET_PROPERTY_TYPE_ANY, 0,
                             maximumNameLength),
            xcb_get_property(c, 0, window, kdeDesktopFileAtom, XCB_GET_PROPERTY_TYPE_ANY, 0,
                             maximumNameLength),
            hasClientIds ? xcb_res_query_client_ids(c, 1, &spec)
                         : xcb_res_query_client_ids_cookie_t{0},
        });
    }
    std::vector<WindowIdentity> identities;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        WindowIdentity identity;
        identity.window = windows[i];
        const auto pid = own(xcb_get_property_reply(c, cookies[i].pid, nullptr));
        if (pid && pid->format == 32 && xcb_get_property_value_length(pid.get()) == 4)
            identity.process = static_cast<pid_t>(
                *static_cast<const std::uint32_t*>(xcb_get_property_value(pid.get())));
        const auto wmClass = own(xcb_get_property_reply(c, cookies[i].wmClass, nullptr));
        parseWmClass(propertyBytes(wmClass.get()), identity.instanceName, identity.className);
        const auto gtkId = own(xcb_get_property_reply(c, cookies[i].gtkId, nullptr));
        identity.applicationId = parseTextProperty(propertyBytes(gtkId.get()));
        const auto kdeFile = own(xcb_get_property_reply(c, cookies[i].kdeFile, nullptr));
        identity.desktopFileName = parseTextProperty(propertyBytes(kdeFile.get()));
        // A client may leave out _NET_WM_PID, or lie in it; the server knows a local client's.
        if (hasClientIds) {
            if (const pid_t client = clientProcessOf(cookies[i].client))
                identity.process = client;
        }
        if (identity.process < 0)
            identity.process = 0;
        ownersByWindow[windows[i]] = identity.process;
        identities.push_back(std::move(identity));
    }
    return identities;
}

pid_t EwmhWindows::clientProcessOf(xcb_res_query_client_ids_cookie_t cookie) {
    const auto reply = own(xcb_res_query_client_ids_reply(connection.get(), cookie, nullptr));
    if (!reply)
        return 0;
    for (auto ids = xcb_res_query_client_ids_ids_iterator(reply.get()); ids.rem;
         xcb_res_client_id_value_next(&ids)) {
        if ((ids.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) &&
            xcb_res_client_id_value_value_length(ids.data) == 1)
            return static_cast<pid_t>(*xcb_res_client_id_value_value(ids.data));
    }
    return 0;
}

// Windows embedded into other clients' windows and override-redirect ones are in no list of the
// window manager, and no root event tells of a window made inside another client's window. Every
// window is made by a client, though, and the server lists its clients with their processes in
// one request: a new client's process is reported once, whatever windows it makes, mapped or
// not, at any depth. A client that takes a departed one's place (the same resource base) counts
// as new when its process differs.
void EwmhWindows::refreshClients(bool report) {
    if (!connection || !hasClientIds)
        return;
    xcb_res_client_id_spec_t everyClient{XCB_NONE, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
    const auto reply = own(xcb_res_query_client_ids_reply(
        connection.get(), xcb_res_query_client_ids(connection.get(), 1, &everyClient), nullptr));
    if (!reply) {
        dropBrokenConnection();
        return;
    }
    std::map<std::uint32_t, pid_t> current;
    std::vector<pid_t> appeared;
    for (auto ids = xcb_res_query_client_ids_ids_iterator(reply.get()); ids.rem;
         xcb_res_client_id_value_next(&ids)) {
        if (!(ids.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) ||
            xcb_res_client_id_value_value_length(ids.data) != 1)
            continue;
        const auto pid = static_cast<pid_t>(*xcb_res_client_id_value_value(ids.data));
        const auto known = processByClient.find(ids.data->spec.client);
        if (pid > 0 && (known == processByClient.end() || known->second != pid) &&
            std::find(appeared.begin(), appeared.end(), pid) == appeared.end())
            appeared.push_back(pid);
        current[ids.data->spec.client] = pid;
    }
    processByClient = std::move(current);
    if (report && !appeared.empty() && onClientsAppeared)
        onClientsAppeared(appeared);
}

void EwmhWindows::clientsMayConnect() {
    // The library may have been replaced since (an upgrade): new programs load the new file.
    watchClientLibrary();
    followUpClientsSoon();
}

void EwmhWindows::followUpClientsSoon() {
    if (!connection || !hasClientIds)
        return;
    // A first look about to come serves this sign as well; a sign later in the series starts over.
    if (clientFollowUp.isActive() && followUpStep == 0)
        return;
    followUpStep = 0;
    clientFollowUp.start(clientFollowUpsMs[0]);
}

void EwmhWindows::followUpClients() {
    refreshClients(true);
    if (!connection || ++followUpStep == clientFollowUpsMs.size())
        return;
    clientFollowUp.start(clientFollowUpsMs[followUpStep] - clientFollowUpsMs[followUpStep - 1]);
}

// Every dynamically linked X client loads the library that our own connection runs on, and the
// loader opens it before the program's first line runs: its opens tell of clients on their way.
// A watch on the file already watched changes nothing; one replaced at its path is watched too.
void EwmhWindows::watchClientLibrary() {
    if (!connection || !hasClientIds)
        return;
    if (clientLibrary.isEmpty()) {
        Dl_info library{};
        if (::dladdr(reinterpret_cast<void*>(&xcb_connect), &library) && library.dli_fname)
            clientLibrary = QFileInfo(QFile::decodeName(library.dli_fname)).canonicalFilePath();
        if (clientLibrary.isEmpty())
            return;
    }
    if (!libraryOpens) {
        libraryOpens.reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
        if (!libraryOpens)
            return;
        libraryNotifier =
            std::make_unique<QSocketNotifier>(libraryOpens.get(), QSocketNotifier::Read, this);
        connect(libraryNotifier.get(), &QSocketNotifier::activated, this,
                [this] { readLibraryOpens(); });
    }
    ::inotify_add_watch(libraryOpens.get(), QFile::encodeName(clientLibrary).constData(), IN_OPEN);
}

void EwmhWindows::readLibraryOpens() {
    bool opened = false;
    alignas(inotify_event) std::array<char, 4096> buffer;
    for (;;) {
        const ssize_t length = ::read(libraryOpens.get(), buffer.data(), buffer.size());
        if (length <= 0)
            break;
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            opened = opened || (event->mask & (IN_OPEN | IN_Q_OVERFLOW));
        }
    }
    if (opened)
        followUpClientsSoon();
}

// Asks for all owners first and then collects the replies: one round trip for many windows.
void EwmhWindows::readOwners(const std::vector<WindowId>& windows) {
    std::vector<xcb_get_property_cookie_t> cookies;
    cookies.reserve(windows.size());
    for (const WindowId window : windows)
        cookies.push_back(
            xcb_get_property(connection.get(), 0, window, pidAtom, XCB_ATOM_CARDINAL, 0, 1));
    for (std::size_t i = 0; i < windows.size(); ++i) {
        const auto reply = own(xcb_get_property_reply(connection.get(), cookies[i], nullptr));
        pid_t owner = 0;
        if (reply && reply->format == 32 && xcb_get_property_value_length(reply.get()) == 4)
            owner = static_cast<pid_t>(
                *static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get())));
        ownersByWindow[windows[i]] = owner > 0 ? owner : 0;
    }
}

pid_t EwmhWindows::ownerOf(WindowId window) {
    const auto known = ownersByWindow.find(window);
    if (known != ownersByWindow.end() && known->second)
        return known->second;
    readOwners({window});
    return ownersByWindow[window];
}

void EwmhWindows::refreshActiveWindow() {
    const std::vector<WindowId> active = windowList(activeWindowAtom);
    const pid_t owner = active.empty() || !active.front() ? 0 : ownerOf(active.front());
    if (owner == activeOwner)
        return;
    activeOwner = owner;
    if (onActiveWindowChanged)
        onActiveWindowChanged(owner);
}

std::vector<std::pair<EwmhWindows::WindowId, pid_t>> EwmhWindows::windowsTopmostFirst() {
    std::vector<WindowId> windows = windowList(stackingAtom);
    if (windows.empty())
        windows = windowList(clientListAtom);
    std::vector<std::pair<WindowId, pid_t>> result;
    for (auto window = windows.rbegin(); window != windows.rend(); ++window)
        result.emplace_back(*window, ownerOf(*window));
    drainSoon();
    return result;
}

bool EwmhWindows::activateWindow(WindowId window) {
    if (!connection || !activeWindowAtom)
        return false;
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = activeWindowAtom;
    message.data.data32[0] = sourceIndicationPager;
    message.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection.get(), 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(connection.get());
    return !dropBrokenConnection();
}

}  // namespace platform
