// The X server as the window guards see it, on the toolkit's own xcb connection (grabs must be made
// by the client that receives the typed keys), and the dispatch of its events to the live guards:
// the root's children changing, and our own windows unmapped, restacked, reshaped or made
// transparent by another client.
#pragma once

#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <vector>

#include "platform/linux/X11LockGuard.h"

namespace platform::x11 {

class XcbGuardServer : public GuardServer, public QAbstractNativeEventFilter {
  public:
    // The one instance of the program; none when the application does not run on xcb.
    static XcbGuardServer* instance();

    // Guards register while they live; events about their windows reach them.
    void add(X11LockGuard& guard);
    void remove(X11LockGuard& guard);

    WindowId rootWindow() override { return root; }
    bool grabKeyboard(WindowId window) override;
    bool grabPointer(WindowId window) override;
    void ungrabKeyboard() override;
    void ungrabPointer() override;
    void setInputFocus(WindowId window) override;
    void raiseWindow(WindowId window) override;
    void mapWindow(WindowId window) override;
    void moveResizeWindow(WindowId window, const QRect& frame) override;
    bool foreignWindowAbove(WindowId window) override;
    void removeOpacity(WindowId window) override;
    void removeShape(WindowId window) override;
    void reparentToRoot(WindowId window, const QPoint& position) override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  private:
    XcbGuardServer(xcb_connection_t* connection, WindowId root);
    void watchRootSubstructure();
    // Adds property and shape events of a guarded window to what the toolkit selected on it.
    void watchOwnWindow(WindowId window);
    // A property or shape change of a guarded window; false for any other event.
    bool dispatchOwnWindowChange(const xcb_generic_event_t* event);
    X11LockGuard* guardOf(WindowId window) const;
    // The top-level window a structure event reported to the root is about; none otherwise.
    WindowId rootChildOf(const xcb_generic_event_t* event) const;
    void dispatch(const xcb_generic_event_t* event, WindowId window);
    void afterUngrab();

    xcb_connection_t* connection;
    WindowId root;
    bool substructureOwnedByToolkit = false;  // the toolkit selected it itself: let events pass
    xcb_atom_t opacityAtom = XCB_NONE;
    std::uint8_t shapeFirstEvent = 0;  // 0 without the shape extension
    std::vector<X11LockGuard*> guards;
};

}  // namespace platform::x11
