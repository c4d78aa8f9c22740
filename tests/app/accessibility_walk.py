"""Walks the whole accessibility tree of one application, as a screen reader does.

usage: accessibility_walk.py APPLICATION-NAME [SECONDS]

Finds the application among those registered on the accessibility bus of the session bus named
by DBUS_SESSION_BUS_ADDRESS, then visits every object under it and asks each one for all the
properties of every interface it offers (org.freedesktop.DBus.Properties.GetAll), and for its
children; a property call with too few arguments must be refused. Prints the tree, one line per
object; exits 0 when every object answered, 1 when the application stopped answering or a call
failed, 77 when the accessibility bus cannot be reached.
"""

import sys
import time

import dbus

ACCESSIBLE = "org.a11y.atspi.Accessible"
PROPERTIES = "org.freedesktop.DBus.Properties"
ROOT = "/org/a11y/atspi/accessible/root"
TIMEOUT = 10  # seconds for one call; a crashed application gives no reply


def accessibility_bus():
    """The accessibility bus of the session bus; raises dbus.DBusException without one."""
    session = dbus.SessionBus()
    address = session.get_object("org.a11y.Bus", "/org/a11y/bus").GetAddress(
        dbus_interface="org.a11y.Bus")
    return dbus.bus.BusConnection(str(address))


def registered_applications(bus):
    try:
        registry = bus.get_object("org.a11y.atspi.Registry", ROOT, introspect=False)
        return registry.GetChildren(dbus_interface=ACCESSIBLE, timeout=TIMEOUT)
    except dbus.DBusException:
        return []  # the registry is still starting


def serves_its_objects(bus, app_bus, app_path, name):
    app = bus.get_object(app_bus, app_path, introspect=False)
    try:
        if app.Get(ACCESSIBLE, "Name", dbus_interface=PROPERTIES, timeout=TIMEOUT) != name:
            return False
        app.GetInterfaces(dbus_interface=ACCESSIBLE, timeout=TIMEOUT)
        return True
    except dbus.DBusException:
        return False  # another application, or one that is still starting


def find_application(bus, name, seconds):
    end = time.monotonic() + seconds
    while True:
        for app_bus, app_path in registered_applications(bus):
            if serves_its_objects(bus, app_bus, app_path, name):
                return str(app_bus), str(app_path)
        if time.monotonic() > end:
            return None
        time.sleep(0.2)


def walk(bus, start):
    """Prints the tree depth first, one object a line, indented by its depth: its role, its
    name and the interfaces that it offers beside Accessible."""
    seen = set()
    pending = [(start, 0)]
    while pending:
        (app_bus, path), depth = pending.pop()
        if (app_bus, path) in seen or path == "/org/a11y/atspi/null":
            continue
        seen.add((app_bus, path))
        node = bus.get_object(app_bus, path, introspect=False)
        interfaces = node.GetInterfaces(dbus_interface=ACCESSIBLE, timeout=TIMEOUT)
        properties = {}
        for interface in interfaces:
            properties[str(interface)] = node.GetAll(interface, dbus_interface=PROPERTIES,
                                                     timeout=TIMEOUT)
        role = node.GetRoleName(dbus_interface=ACCESSIBLE, timeout=TIMEOUT)
        name = properties.get(ACCESSIBLE, {}).get("Name", "")
        others = sorted(str(i).rsplit(".", 1)[-1] for i in interfaces if str(i) != ACCESSIBLE)
        print(f"{'  ' * depth}[{role}] {str(name)!r}  ({', '.join(others)})")
        children = node.GetChildren(dbus_interface=ACCESSIBLE, timeout=TIMEOUT)
        # Reversed onto the stack, so that they come out in their own order.
        for child_bus, child_path in reversed(children):
            pending.append(((str(child_bus), str(child_path)), depth + 1))
    return len(seen)


def refuses_malformed_calls(bus, start):
    """A property call with too few arguments gets an error reply, not a crash."""
    node = bus.get_object(*start, introspect=False)
    for member, arguments in (("Get", (ACCESSIBLE,)), ("Set", (ACCESSIBLE, "Name"))):
        try:
            node.get_dbus_method(member, PROPERTIES)(*arguments, timeout=TIMEOUT)
        except dbus.DBusException as error:
            if error.get_dbus_name() != "org.freedesktop.DBus.Error.InvalidArgs":
                raise
        else:
            raise dbus.DBusException(f"{member} with {len(arguments)} arguments was answered")


def main():
    name = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 20
    try:
        bus = accessibility_bus()
    except dbus.DBusException as error:
        print(f"SKIP: no accessibility bus: {error}", file=sys.stderr)
        return 77
    app = find_application(bus, name, seconds)
    if app is None:
        print(f"FAIL: {name} did not appear on the accessibility bus", file=sys.stderr)
        return 1
    try:
        refuses_malformed_calls(bus, app)
        count = walk(bus, app)
    except dbus.DBusException as error:
        print(f"FAIL: {error.get_dbus_name()}: {error.get_dbus_message()}", file=sys.stderr)
        return 1
    print(f"visited {count} objects")
    return 0


if __name__ == "__main__":
    sys.exit(main())
