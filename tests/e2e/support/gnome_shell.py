#!/usr/bin/python3
# Acts on the headless GNOME Shell of the test session as a user would:
#   gnome_shell.py screenshot FILE   the whole screen into FILE (PNG), through the Shell's own
#                                    screenshot service, which answers only the screenshot tool's
#                                    bus name, so this process takes that name first
#   gnome_shell.py input FIFO        one long-lived remote-desktop session of mutter reading lines
#                                    from FIFO: "text WORDS", "key NAME", "keys NAME NAME..." (held
#                                    together, released in reverse), "click" (left button where the
#                                    pointer is), "move DX DY"
#   gnome_shell.py swap-monitors     the monitors' places swapped, the primary one kept, through
#                                    mutter's display configuration (temporarily)
#   gnome_shell.py forge-lock        asks the extension for a lock (with a password socket) as a
#                                    program that is not Vaultine; prints the error it gets
#   gnome_shell.py inject TEXT       watches the bus as any program of the user may and, at the
#                                    next lock request, sends TEXT as a typed password into the
#                                    copy of the Shell's password socket the watch receives
import os
import socket
import sys
import time

import dbus

SHELL = "org.gnome.Shell"
KEYSYMS = {"Return": 0xFF0D, "Escape": 0xFF1B, "Tab": 0xFF09, "Alt_L": 0xFFE9,
           "Super_L": 0xFFEB, "Shift_L": 0xFFE1, "Control_L": 0xFFE3, "F4": 0xFFC1}
BUTTON_LEFT = 0x110


def screenshot(path):
    bus = dbus.SessionBus()
    bus.request_name("org.gnome.Screenshot")
    shot = dbus.Interface(bus.get_object(SHELL, "/org/gnome/Shell/Screenshot"),
                          "org.gnome.Shell.Screenshot")
    # The Shell learns of our name from the bus; a first call may come before it has.
    for _ in range(50):
        try:
            success, _ = shot.Screenshot(False, False, path)
            return 0 if success else 1
        except dbus.DBusException as error:
            if "AccessDenied" not in error.get_dbus_name():
                raise
            time.sleep(0.1)
    return 1


def swap_monitors():
    bus = dbus.SessionBus()
    config = dbus.Interface(bus.get_object("org.gnome.Mutter.DisplayConfig",
                                           "/org/gnome/Mutter/DisplayConfig"),
                            "org.gnome.Mutter.DisplayConfig")
    serial, monitors, logical, _ = config.GetCurrentState()
    current_mode = {}
    for (connector, _, _, _), modes, _ in monitors:
        for mode in modes:
            if mode[6].get("is-current", False):
                current_mode[connector] = mode[0]
    places = [(x, y) for x, y, *_ in logical]
    places = places[1:] + places[:1]
    swapped = []
    for (x, y), (_, _, scale, transform, primary, connectors, _) in zip(places, logical):
        swapped.append((dbus.Int32(x), dbus.Int32(y), dbus.Double(scale), dbus.UInt32(transform),
                        dbus.Boolean(primary),
                        [(c[0], current_mode[c[0]], dbus.Dictionary({}, signature="sv"))
                         for c in connectors]))
    config.ApplyMonitorsConfig(serial, dbus.UInt32(1), swapped,
                               dbus.Dictionary({}, signature="sv"))
    return 0


def forge_lock():
    bus = dbus.SessionBus()
    lock = dbus.Interface(bus.get_object(SHELL, "/org/vaultine/ShellLock"),
                          "org.vaultine.ShellLock")
    ours, theirs = socket.socketpair(socket.AF_UNIX, socket.SOCK_SEQPACKET)
    with ours, theirs:
        try:
            lock.Lock(dbus.UInt32(1), "Forged", "", "", dbus.types.UnixFd(theirs))
        except dbus.DBusException as error:
            print(error.get_dbus_name())
            return 0
    print("accepted")
    return 1


def inject(text):
    from dbus.mainloop.glib import DBusGMainLoop
    from gi.repository import GLib

    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    loop = GLib.MainLoop()

    def lock_requested(_, message):
        arguments = message.get_args_list() if message.get_member() == "Lock" else []
        if len(arguments) < 5:
            return
        with socket.socket(fileno=arguments[4].take()) as shell_end:
            shell_end.send(text.encode() + b"\0")
        print("injected", flush=True)
        loop.quit()

    bus.add_message_filter(lock_requested)
    bus.call_blocking("org.freedesktop.DBus", "/org/freedesktop/DBus",
                      "org.freedesktop.DBus.Monitoring", "BecomeMonitor", "asu",
                      (["interface='org.vaultine.ShellLock',member='Lock'"], 0))
    print("watching", flush=True)
    loop.run()
    return 0


def keysym(name):
    if name in KEYSYMS:
        return KEYSYMS[name]
    if len(name) == 1 and 0x20 <= ord(name) < 0x7F:
        return ord(name)
    raise ValueError(f"unknown key {name}")


def input_session(fifo):
    bus = dbus.SessionBus()
    desktop = dbus.Interface(bus.get_object("org.gnome.Mutter.RemoteDesktop",
                                            "/org/gnome/Mutter/RemoteDesktop"),
                             "org.gnome.Mutter.RemoteDesktop")
    path = desktop.CreateSession()
    session = dbus.Interface(bus.get_object("org.gnome.Mutter.RemoteDesktop", path),
                             "org.gnome.Mutter.RemoteDesktop.Session")
    session.Start()
    # The first key of a new session can be lost: a modifier alone goes first.
    press(session, ["Shift_L"])
    print("ready", flush=True)
    while True:
        with open(fifo) as commands:
            for line in commands:
                run(session, line.rstrip("\n"))


def press(session, names):
    for name in names:
        session.NotifyKeyboardKeysym(dbus.UInt32(keysym(name)), True)
    for name in reversed(names):
        session.NotifyKeyboardKeysym(dbus.UInt32(keysym(name)), False)


def run(session, line):
    command, _, argument = line.partition(" ")
    if command == "text":
        for character in argument:
            press(session, [character])
    elif command == "key":
        press(session, [argument])
    elif command == "keys":
        press(session, argument.split())
    elif command == "click":
        session.NotifyPointerButton(BUTTON_LEFT, True)
        session.NotifyPointerButton(BUTTON_LEFT, False)
    elif command == "move":
        dx, dy = (float(value) for value in argument.split())
        session.NotifyPointerMotionRelative(dx, dy)


def main():
    if sys.argv[1] == "screenshot":
        return screenshot(sys.argv[2])
    if sys.argv[1] == "swap-monitors":
        return swap_monitors()
    if sys.argv[1] == "forge-lock":
        return forge_lock()
    if sys.argv[1] == "inject":
        return inject(sys.argv[2])
    input_session(sys.argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main())
