// The screens of an X11 desktop, read from RandR's monitors on an xcb connection of our own and
// re-read after every root configure and RandR event it receives.
//
// Qt's own screen list is not enough to cover the desktop: when monitors change in quick
// succession (two `xrandr --setmonitor` calls, a dock with two outputs) it can read the monitors
// between two changes and miss the second, keeping a screen unknown for good. A list read after
// the last event ever received cannot be stale that way.
#pragma once

#include <xcb/xcb.h>

#include <QObject>
#include <QSocketNotifier>
#include <map>
#include <memory>

#include "platform/ObserverList.h"
#include "platform/Screens.h"

namespace platform::x11 {

class RandrScreens : public Screens {
  public:
    // None unless the running QGuiApplication is on xcb and the server has RandR 1.5.
    static std::unique_ptr<RandrScreens> connect();
    ~RandrScreens() override;

    // Frames are in the toolkit's coordinates (device pixels divided by its pixel ratio), so
    // that windows can be given them as they are. The main screen is the one RandR marks
    // primary, else the first. The parts of the root window that no monitor shows follow the
    // monitors as screens of their own (without a monitor, the whole root is one).
    std::vector<Screen> screens() override { return current; }
    std::optional<Screen> mainScreen() override;
    ObserverList<>::Id addChangeObserver(std::function<void()> handler) override;
    void removeChangeObserver(ObserverList<>::Id id) override;

  private:
    struct ConnectionDeleter {
        void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
    };
    using Connection = std::unique_ptr<xcb_connection_t, ConnectionDeleter>;

    RandrScreens(Connection connection, xcb_window_t root, std::uint8_t randrFirstEvent);
    void handleEvents();
    bool isScreenEvent(const xcb_generic_event_t& event) const;
    // Reads the monitors; true when they differ from those read before.
    bool readMonitors();
    QString atomName(xcb_atom_t atom);

    Connection connection;
    xcb_window_t root;
    std::uint8_t randrFirstEvent;
    std::vector<Screen> current;
    std::size_t mainIndex = 0;
    std::map<xcb_atom_t, QString> atomNames;
    ObserverList<> observers;
    std::unique_ptr<QSocketNotifier> notifier;
};

}  // namespace platform::x11
