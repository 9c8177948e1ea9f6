// The grab, raise and focus defences of one guarded window (see the design in X11LockGuard.h).
#include "platform/linux/X11LockGuard.h"

#include <QDebug>

namespace platform::x11 {

X11LockGuard::X11LockGuard(GuardServer& server, std::unique_ptr<GuardTimer> timer, WindowId window)
    : server(server), timer(std::move(timer)), ownWindow(window) {}

X11LockGuard::~X11LockGuard() {
    if (inputWanted)
        releaseGrabs();
}

void X11LockGuard::setInputWanted(bool wanted) {
    if (wanted == inputWanted)
        return;
    inputWanted = wanted;
    if (wanted) {
        takeGrabs(false);
        startTimer();
    } else {
        releaseGrabs();
    }
}

void X11LockGuard::windowMapped() {
    mapped = true;
    server.raiseWindow(ownWindow);
    if (inputWanted)
        takeGrabs(true);  // move grabs held on the root window onto ours
}

void X11LockGuard::windowUnmapped() {
    // An unviewable window loses its grabs; they go back to the root until it maps again.
    mapped = false;
    keyboardHeld = pointerHeld = false;
    if (inputWanted)
        takeGrabs(false);
    // The program hides its windows through the toolkit, which knows it: an unmap it did not
    // ask for came from another client, and would show what the window hides.
    if (shouldBeMapped && shouldBeMapped()) {
        server.mapWindow(ownWindow);
        restored(QStringLiteral("unmapped a lock screen window"));
    }
}

void X11LockGuard::otherTopLevelChanged() {
    if (!mapped)
        return;
    server.raiseWindow(ownWindow);
    // A window that maps under the lock (a held launch let go) may be given the focus by the
    // window manager; the lock that takes the input takes the focus back.
    if (inputWanted)
        server.setInputFocus(ownWindow);
}

void X11LockGuard::windowConfigured(const QRect& frame) {
    const std::optional<QRect> wanted = wantedFrame ? wantedFrame() : std::nullopt;
    if (wanted && wanted->isValid() && frame != *wanted) {
        server.moveResizeWindow(ownWindow, *wanted);
        restored(QStringLiteral("moved or resized a lock screen window"));
    }
    windowRestacked();
}

void X11LockGuard::windowRestacked() {
    // Asked of the server rather than judged from the event: our own windows restacking each
    // other must not start a raising contest among them.
    if (mapped && server.foreignWindowAbove(ownWindow)) {
        server.raiseWindow(ownWindow);
        restored(QStringLiteral("lowered a lock screen window"));
    }
}

void X11LockGuard::windowMadeTransparent() {
    server.removeOpacity(ownWindow);
    restored(QStringLiteral("made a lock screen window transparent"));
}

void X11LockGuard::windowShaped() {
    server.removeShape(ownWindow);
    restored(QStringLiteral("shaped a lock screen window"));
}

void X11LockGuard::windowReparented() {
    const std::optional<QRect> wanted = wantedFrame ? wantedFrame() : std::nullopt;
    server.reparentToRoot(ownWindow, wanted ? wanted->topLeft() : QPoint());
    restored(QStringLiteral("moved a lock screen window into another window"));
}

void X11LockGuard::restored(const QString& what) {
    const QString line = QStringLiteral("Lock screen: another program %1; restored").arg(what);
    if (onLog)
        onLog(line);
    else
        qInfo().noquote() << line;
}

void X11LockGuard::grabMayBeLost() {
    if (!inputWanted)
        return;
    // Taken again on the next tick rather than at once: a grab causes focus events itself, and
    // answering each at once could keep the two going without end.
    keyboardHeld = pointerHeld = false;
}

void X11LockGuard::tick() {
    if (!inputWanted)
        return;
    ++ticks;
    const bool reassert = ticks % ticksPerRefresh == 0;
    if (!keyboardHeld || !pointerHeld || reassert)
        takeGrabs(reassert);
}

void X11LockGuard::handOver() {
    mapped = false;
    onInputHeld = nullptr;
    // The window is going: nothing of it is restored any more.
    shouldBeMapped = nullptr;
    wantedFrame = nullptr;
    if (inputWanted)
        takeGrabs(false);
}

void X11LockGuard::forgetGrabs() {
    if (timerRunning) {
        timer->stop();
        timerRunning = false;
    }
    inputWanted = false;
    keyboardHeld = pointerHeld = false;
}

WindowId X11LockGuard::grabTarget() const {
    return mapped ? ownWindow : server.rootWindow();
}

void X11LockGuard::takeGrabs(bool reassert) {
    const WindowId target = grabTarget();
    const bool moved = grabsOnOwnWindow != mapped;
    if (!keyboardHeld || reassert || moved)
        keyboardHeld = server.grabKeyboard(target);
    if (!pointerHeld || reassert || moved)
        pointerHeld = server.grabPointer(target);
    grabsOnOwnWindow = mapped;
    if (keyboardHeld && pointerHeld) {
        refusalLogged = false;
        if (onInputHeld)
            onInputHeld();
        return;
    }
    // Most menus close when the focus leaves their program, which frees their grab.
    if (mapped)
        server.setInputFocus(ownWindow);
    if (!refusalLogged) {
        refusalLogged = true;
        const QString line =
            QStringLiteral(
                "Lock screen: the %1 is held by another program; retrying every "
                "%2 ms")
                .arg(keyboardHeld ? QStringLiteral("pointer") : QStringLiteral("keyboard"))
                .arg(grabRetryIntervalMs);
        if (onLog)
            onLog(line);
        else
            qInfo().noquote() << line;
    }
}

void X11LockGuard::releaseGrabs() {
    if (timerRunning) {
        timer->stop();
        timerRunning = false;
    }
    // Unconditional: a grab we believe lost may still be ours, and ungrabbing one we do not hold
    // does nothing.
    server.ungrabKeyboard();
    server.ungrabPointer();
    keyboardHeld = pointerHeld = false;
    refusalLogged = false;
    ticks = 0;
}

void X11LockGuard::startTimer() {
    if (timerRunning)
        return;
    timerRunning = true;
    timer->start(grabRetryIntervalMs, [this] { tick(); });
}

void GrabRelay::keep(std::unique_ptr<X11LockGuard> guard) {
    if (kept)
        grabsTakenOver();
    kept = std::move(guard);
    kept->handOver();
}

void GrabRelay::grabsTakenOver() {
    if (!kept)
        return;
    kept->forgetGrabs();
    drop();
}

void GrabRelay::release() {
    if (!kept)
        return;
    kept->setInputWanted(false);
    drop();
}

void GrabRelay::drop() {
    std::unique_ptr<X11LockGuard> guard = std::move(kept);
    if (onDrop)
        onDrop(*guard);
}

}  // namespace platform::x11
