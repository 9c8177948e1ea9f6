// The desktop's top-level windows as the window manager lists them (EWMH): which windows appear,
// which one is active, which process owns each and which application it declares, and the request
// that activates one; and the processes of the X clients that connect, whatever windows they make.
// Nothing is polled: the server's client list is read when a client may have connected (a new
// top-level window, a program loading the X client library, a new process). Optional: without
// $DISPLAY or with a broken connection it is inert and reports nothing.
#pragma once

#include <sys/types.h>

#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "platform/linux/UniqueFd.h"
#include "platform/linux/WindowIdentity.h"

struct xcb_connection_t;
struct xcb_res_query_client_ids_cookie_t;

namespace platform {

class EwmhWindows : public QObject {
  public:
    using WindowId = std::uint32_t;

    // Connects to $DISPLAY when it is set. Main thread.
    EwmhWindows();
    ~EwmhWindows() override;

    bool isConnected() const { return connection != nullptr; }

    // The windows that joined the client list, with their owners and declared names; unset does
    // nothing.
    std::function<void(const std::vector<WindowIdentity>&)> onWindowsAppeared;
    // The local processes of X clients that connected (or took a departed client's place) since
    // the last look, each once; unset does nothing.
    std::function<void(const std::vector<pid_t>&)> onClientsAppeared;
    // The owner of the window that became active; 0 when none or unknown.
    std::function<void(pid_t)> onActiveWindowChanged;

    // The managed windows with their owners, topmost first.
    std::vector<std::pair<WindowId, pid_t>> windowsTopmostFirst();
    // Asks the window manager to activate the window, as a pager does; false without a connection.
    bool activateWindow(WindowId window);
    // A process may connect to the display soon or may just have (a new process was seen): the
    // server's client list is read within 20 ms and a few more times over the next ten seconds, as
    // a starting program gets to its connection.
    void clientsMayConnect();

  private:
    struct ConnectionDeleter {
        void operator()(xcb_connection_t* connection) const;
    };

    void handleEvents();
    void drainSoon();
    bool dropBrokenConnection();
    std::vector<WindowId> windowList(std::uint32_t property);
    void refreshClientList(bool report);
    void refreshActiveWindow();
    pid_t ownerOf(WindowId window);
    void readOwners(const std::vector<WindowId>& windows);
    std::vector<WindowIdentity> readIdentities(const std::vector<WindowId>& windows);
    pid_t clientProcessOf(xcb_res_query_client_ids_cookie_t cookie);
    void refreshClients(bool report);
    void watchClientLibrary();
    void readLibraryOpens();
    void followUpClientsSoon();
    void followUpClients();

    std::unique_ptr<xcb_connection_t, ConnectionDeleter> connection;
    std::unique_ptr<QSocketNotifier> notifier;
    WindowId root = 0;
    std::uint32_t clientListAtom = 0;
    std::uint32_t stackingAtom = 0;
    std::uint32_t activeWindowAtom = 0;
    std::uint32_t pidAtom = 0;
    std::uint32_t gtkApplicationIdAtom = 0;
    std::uint32_t kdeDesktopFileAtom = 0;
    bool hasClientIds = false;  // the X-Resource extension can name a client's process
    std::map<WindowId, pid_t> ownersByWindow;        // 0: not (yet) declared
    std::map<std::uint32_t, pid_t> processByClient;  // by the client's resource base
    // Opens of the X client library (the file our own connection uses): a program that loads it is
    // about to connect, whatever it is called.
    UniqueFd libraryOpens;
    std::unique_ptr<QSocketNotifier> libraryNotifier;
    QString clientLibrary;
    QTimer clientFollowUp;  // single shot; idle while no client may be on its way
    std::size_t followUpStep = 0;
    pid_t activeOwner = 0;
    bool drainScheduled = false;
};

}  // namespace platform
