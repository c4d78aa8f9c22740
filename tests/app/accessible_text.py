"""Reads what a screen reader reads of one object of a running application, waiting for it.

usage: accessible_text.py APPLICATION WINDOW OBJECT SECONDS [--is TEXT | --is-not TEXT]

Looks, on the accessibility bus of the session bus named by DBUS_SESSION_BUS_ADDRESS, in the
application's window named WINDOW for the first object named OBJECT, and takes its text: its Text
interface's whole text where it offers one, otherwise its description (a status label's, which
holds what it shows). A field is preferred to its label of the same name. Prints it and exits 0 once it is TEXT (--is), once it is not TEXT or the
object is not there (--is-not), or as soon as the object is found (neither); exits 1 when that
has not happened within SECONDS, 77 when the accessibility bus cannot be reached.
"""

import os
import sys
import time

import dbus

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from accessibility_walk import (  # noqa: E402
    ACCESSIBLE, PROPERTIES, TIMEOUT, accessibility_bus, find_application)

TEXT = "org.a11y.atspi.Text"
EDITABLE = "org.a11y.atspi.EditableText"


def name_of(node):
    return str(node.Get(ACCESSIBLE, "Name", dbus_interface=PROPERTIES, timeout=TIMEOUT))


def children_of(bus, node):
    return [bus.get_object(str(child_bus), str(path), introspect=False)
            for child_bus, path in node.GetChildren(dbus_interface=ACCESSIBLE, timeout=TIMEOUT)
            if str(path) != "/org/a11y/atspi/null"]


def interfaces_of(node):
    return [str(i) for i in node.GetInterfaces(dbus_interface=ACCESSIBLE, timeout=TIMEOUT)]


def find_all(bus, start, name, depth):
    """The objects named `name` under `start`, breadth first."""
    found = []
    level = [start]
    for _ in range(depth):
        following = []
        for node in level:
            for child in children_of(bus, node):
                if name_of(child) == name:
                    found.append(child)
                following.append(child)
        level = following
    return found


def find(bus, start, name, depth=12):
    """The object named `name` under `start`, breadth first: the first one that can be typed in
    (a field shares its name with the label before it), or else the first one."""
    found = find_all(bus, start, name, depth)
    editable = [node for node in found if EDITABLE in interfaces_of(node)]
    return (editable or found or [None])[0]


def text_of(node):
    if TEXT in interfaces_of(node):
        return str(node.GetText(0, -1, dbus_interface=TEXT, timeout=TIMEOUT))  # -1: to the end
    return str(node.Get(ACCESSIBLE, "Description", dbus_interface=PROPERTIES, timeout=TIMEOUT))


def read(bus, app, window, name):
    """The object's text; None when the window or the object is not there."""
    try:
        # Hidden windows of the same name (a box once shown, say) stay in the tree.
        for shown in find_all(bus, bus.get_object(*app, introspect=False), window, depth=1):
            found = find(bus, shown, name)
            if found is not None:
                return text_of(found)
        return None
    except dbus.DBusException:
        return None  # a window or object that went away while it was read


def main():
    application, window, name, seconds = sys.argv[1:5]
    mode, expected = (sys.argv[5], sys.argv[6]) if len(sys.argv) > 6 else (None, None)
    try:
        bus = accessibility_bus()
    except dbus.DBusException as error:
        print(f"SKIP: no accessibility bus: {error}", file=sys.stderr)
        return 77
    end = time.monotonic() + float(seconds)
    app = find_application(bus, application, float(seconds))
    text = None
    while app is not None:
        text = read(bus, app, window, name)
        if mode == "--is" and text == expected:
            break
        if mode == "--is-not" and text != expected:
            break
        if mode is None and text is not None:
            break
        if time.monotonic() > end:
            print(f"FAIL: {name!r} in {window!r} reads {text!r}", file=sys.stderr)
            return 1
        time.sleep(0.1)
    if app is None:
        print(f"FAIL: {application} is not on the accessibility bus", file=sys.stderr)
        return 1
    print(text if text is not None else "")
    return 0


if __name__ == "__main__":
    sys.exit(main())
