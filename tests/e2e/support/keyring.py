#!/usr/bin/python3
# Locks or unlocks the private session's default keyring collection over the Secret Service, as a
# user's screen lock or their unlock would: `keyring.py lock`, `keyring.py unlock PASSWORD_FILE`.
# Unlocking without a prompt uses gnome-keyring's own master-password call over a plain session.
import sys

import dbus

SERVICE = "org.freedesktop.secrets"
PATH = "/org/freedesktop/secrets"


def main():
    bus = dbus.SessionBus()
    service = bus.get_object(SERVICE, PATH)
    secret = dbus.Interface(service, "org.freedesktop.Secret.Service")
    collection = secret.ReadAlias("default")
    if sys.argv[1] == "lock":
        secret.Lock([collection])
    else:
        with open(sys.argv[2], "rb") as file:
            password = file.read()
        _, session = secret.OpenSession("plain", dbus.String("", variant_level=1))
        unlock = dbus.Interface(service, "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface")
        # The daemon was given the file's contents on its input; some versions drop the newline.
        for candidate in (password, password.rstrip(b"\n")):
            try:
                unlock.UnlockWithMasterPassword(
                    collection,
                    dbus.Struct((session, dbus.ByteArray(b""), dbus.ByteArray(candidate),
                                 "text/plain"), signature="oayays"))
            except dbus.DBusException:
                continue
            props = dbus.Interface(bus.get_object(SERVICE, collection),
                                   "org.freedesktop.DBus.Properties")
            if not props.Get("org.freedesktop.Secret.Collection", "Locked"):
                return 0
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
