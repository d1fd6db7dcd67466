#!/usr/bin/python3
"""A stand-in for a desktop's portal backend: org.freedesktop.impl.portal.Access,
which grants every request, so that xdg-desktop-portal offers its Camera
interface in a session without a desktop. Owns the bus name given on the
command line; ends with SIGTERM."""

import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

PATH = "/org/freedesktop/portal/desktop"
IFACE = "org.freedesktop.impl.portal.Access"


class Access(dbus.service.Object):
    @dbus.service.method(IFACE, in_signature="osssssa{sv}", out_signature="ua{sv}")
    def AccessDialog(self, handle, app_id, parent_window, title, subtitle, body, options):
        print("access granted: %s" % title, flush=True)
        return dbus.UInt32(0), dbus.Dictionary({}, signature="sv")


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    name = dbus.service.BusName(sys.argv[1], bus)  # noqa: F841 (held for the run)
    Access(bus, PATH)
    print("ready", flush=True)
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
