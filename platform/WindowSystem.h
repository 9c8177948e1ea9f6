// The window system of the desktop session, chosen once at start: a Wayland session runs our
// windows as Wayland clients and does without the X11 pieces (grabs, stacking, RandR), X11
// otherwise.
#pragma once

#include <QByteArrayView>
#include <vector>

namespace platform {

// Whether a session of this type (XDG_SESSION_TYPE) with this Wayland display (WAYLAND_DISPLAY)
// is a Wayland one: the type says "wayland", or a Wayland display is named.
bool isWaylandSession(QByteArrayView sessionType, QByteArrayView waylandDisplay);
// The same for this process's environment, read at the first call and kept for the whole run.
bool sessionIsWayland();

// The program's arguments for the toolkit, null-terminated: in a Wayland session the toolkit is
// asked for its Wayland platform, or X11 (Xwayland) where that cannot start, unless
// QT_QPA_PLATFORM or a -platform argument chooses already. Points into argv and static strings.
std::vector<char*> toolkitArguments(int argc, char** argv, bool waylandSession);

// Whether our windows are X11 windows: the toolkit runs on X11, which in a Wayland session happens
// only where its Wayland platform cannot start. The X grabs, X stacking and RandR need it; a
// Wayland environment alone never turns them off.
bool windowsAreX11();

// Whether our windows are Wayland ones and the compositor offers the layer shell to a connection
// of our own: the lock and its covers are then overlay surfaces above every window, the lock's
// with the keyboard. Asked on the main thread once the toolkit runs; the answer stays (false once
// that connection is lost).
bool waylandOffersLayerShell();

// How a lock keeps the locked application out of sight. The first three cover the screens: X11
// windows with grabs, wlroots' layer-shell overlays, our GNOME Shell extension. Where none is
// available, the gate: a locked launch is held before its first window until the right password,
// and the lock is an ordinary window whose close ends the run.
enum class LockTier { x11Covers, layerShellCovers, gnomeShellExtension, gate };

// The tier of a session: X11 covers unless our windows are Wayland ones; there the layer-shell
// covers where the compositor offers them, else our GNOME Shell extension in GNOME (`gnome`),
// else the gate, which `forced` ("gate", from VAULTINE_LOCK_SCREEN) also chooses over any better
// backend. The extension's tier turns into the gate where the extension does not answer at start
// (chooseLockScreen).
LockTier lockTierOf(bool waylandWindows, bool layerShell, bool gnome, QByteArrayView forced);

// The same for this session, read at the first call and kept for the whole run.
LockTier sessionLockTier();

// Once the toolkit runs: logs, once, the window system in use and, in a Wayland session, what it
// does without.
void reportWindowSystem();

}  // namespace platform
