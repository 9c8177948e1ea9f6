// The session's window system from its environment, the toolkit's platform asked for, and the one
// line that tells what a Wayland session does without.
#include "platform/WindowSystem.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QtGlobal>
#include <cstring>

#include "platform/linux/GnomeShellLock.h"
#include "platform/linux/LayerShellConnection.h"

namespace platform {

namespace {

char platformOption[] = "-platform";
// Wayland first; X11 through Xwayland when the Wayland platform is missing or cannot connect.
char waylandPlatforms[] = "wayland;xcb";

bool choosesPlatform(int argc, char** argv) {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return true;
    for (int i = 1; i < argc; ++i) {
        if (argv[i] &&
            (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0))
            return true;
    }
    return false;
}

// What the lock of a Wayland session's tier does with and without.
QString lockLine(LockTier tier) {
    switch (tier) {
        case LockTier::layerShellCovers:
            return QStringLiteral(
                "the lock and its covers on overlay layers (layer shell), the lock "
                "holding the keyboard; no RandR;");
        case LockTier::gnomeShellExtension:
            return QStringLiteral(
                "the lock and its covers drawn by the GNOME Shell extension, which "
                "holds the keyboard (the gate where it does not answer at start); "
                "no RandR;");
        case LockTier::x11Covers:
        case LockTier::gate:
            break;
    }
    return QStringLiteral(
        "no input grabs, no stacking above other windows, no RandR; locked "
        "launches are held until the password (the gate), the lock an "
        "ordinary window;");
}

}  // namespace

bool isWaylandSession(QByteArrayView sessionType, QByteArrayView waylandDisplay) {
    return sessionType == "wayland" || !waylandDisplay.isEmpty();
}

bool sessionIsWayland() {
    static const bool wayland =
        isWaylandSession(qgetenv("XDG_SESSION_TYPE"), qgetenv("WAYLAND_DISPLAY"));
    return wayland;
}

std::vector<char*> toolkitArguments(int argc, char** argv, bool waylandSession) {
    std::vector<char*> arguments(argv, argv + argc);
    if (waylandSession && !choosesPlatform(argc, argv)) {
        arguments.push_back(platformOption);
        arguments.push_back(waylandPlatforms);
    }
    arguments.push_back(nullptr);
    return arguments;
}

LockTier lockTierOf(bool waylandWindows, bool layerShell, bool gnome, QByteArrayView forced) {
    if (!waylandWindows)
        return LockTier::x11Covers;
    if (forced == "gate")
        return LockTier::gate;
    if (layerShell)
        return LockTier::layerShellCovers;
    return gnome ? LockTier::gnomeShellExtension : LockTier::gate;
}

LockTier sessionLockTier() {
    static const LockTier tier =
        lockTierOf(sessionIsWayland() && !windowsAreX11(), waylandOffersLayerShell(),
                   GnomeShellLock::desktopIsGnome(qgetenv("XDG_CURRENT_DESKTOP")),
                   qgetenv("VAULTINE_LOCK_SCREEN"));
    return tier;
}

bool windowsAreX11() {
    return qGuiApp && QGuiApplication::platformName() == QStringLiteral("xcb");
}

bool waylandOffersLayerShell() {
    return qGuiApp && sessionIsWayland() && !windowsAreX11() &&
           QGuiApplication::platformName().startsWith(QStringLiteral("wayland")) &&
           wayland::LayerShellConnection::shared();
}

void reportWindowSystem() {
    static bool reported = false;
    if (reported || !qGuiApp)
        return;
    reported = true;
    const QString platform = QGuiApplication::platformName();
    if (!sessionIsWayland()) {
        qInfo().noquote() << "Window system: X11 (" + platform + ")";
        return;
    }
    if (windowsAreX11()) {
        qInfo().noquote() << "Window system: Wayland session, our windows on X11 (" + platform +
                                 "): the toolkit's Wayland platform did not start; X grabs and "
                                 "stacking hold against X clients only";
        return;
    }
    const QByteArray display = qgetenv("DISPLAY");
    qInfo().noquote() << "Window system: Wayland (" + platform + ", " +
                             qEnvironmentVariable("WAYLAND_DISPLAY") +
                             "): " + lockLine(sessionLockTier())
                      << (display.isEmpty()
                              ? QStringLiteral("no X display, windows are not attributed")
                              : "X clients of " + QString::fromLocal8Bit(display) +
                                    " attributed by their windows");
}

}  // namespace platform
