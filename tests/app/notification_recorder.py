#!/usr/bin/python3
"""A freedesktop notification service for tests: it records every call on the session bus.

usage: notification_recorder.py LOG-FILE CLICK-FILE

Each Notify and CloseNotification call becomes one JSON line in LOG-FILE. Writing a number into
CLICK-FILE makes the service report a click on that notification (ActionInvoked "default").
"""
import json
import os
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

BUS_NAME = "org.freedesktop.Notifications"
PATH = "/org/freedesktop/Notifications"


class Recorder(dbus.service.Object):
    def __init__(self, bus, log_path):
        super().__init__(bus, PATH)
        self.log_path = log_path
        self.next_id = 1

    def record(self, entry):
        with open(self.log_path, "a", encoding="utf-8") as log:
            log.write(json.dumps(entry, ensure_ascii=False) + "\n")

    @dbus.service.method(BUS_NAME, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        number = int(replaces) if replaces else self.next_id
        if not replaces:
            self.next_id += 1
        self.record({"call": "Notify", "id": number, "replaces": int(replaces),
                     "summary": str(summary), "body": str(body),
                     "actions": [str(a) for a in actions]})
        return number

    @dbus.service.method(BUS_NAME, in_signature="u", out_signature="")
    def CloseNotification(self, number):
        self.record({"call": "CloseNotification", "id": int(number)})
        self.NotificationClosed(number, 3)

    @dbus.service.method(BUS_NAME, in_signature="", out_signature="as")
    def GetCapabilities(self):
        return ["actions", "body", "persistence"]

    @dbus.service.method(BUS_NAME, in_signature="", out_signature="ssss")
    def GetServerInformation(self):
        return ["recorder", "tertulia-tests", "1", "1.2"]

    @dbus.service.signal(BUS_NAME, signature="uu")
    def NotificationClosed(self, number, reason):
        pass

    @dbus.service.signal(BUS_NAME, signature="us")
    def ActionInvoked(self, number, action):
        pass


def main():
    log_path, click_path = sys.argv[1], sys.argv[2]
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    name = dbus.service.BusName(BUS_NAME, bus)
    recorder = Recorder(bus, log_path)

    def poll_clicks():
        if os.path.exists(click_path):
            with open(click_path, encoding="utf-8") as f:
                text = f.read().strip()
            os.unlink(click_path)
            if text:
                recorder.ActionInvoked(dbus.UInt32(int(text)), "default")
        return True

    GLib.timeout_add(200, poll_clicks)
    open(log_path, "a").close()
    GLib.MainLoop().run()
    del name


if __name__ == "__main__":
    main()
