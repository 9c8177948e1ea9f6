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
import sys
import time

import dbus

SHELL = "org.gnome.Shell"
KEYSYMS = {"Return": 0xFF0D, "Escape": 0xFF1B, "Tab": 0xFF09, "Alt_L": 0xFFE9,
           "Super_L": 0xFFEB, "Shift_L": 0xFFE1, "Control_L": 0xFFE3}
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
    input_session(sys.argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main())
