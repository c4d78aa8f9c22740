#pragma once

namespace tertulia {

// Qt's screen-reader bridge (AT-SPI over D-Bus, as in Qt 6.4) reads a second argument of every
// call on org.freedesktop.DBus.Properties, so a client's GetAll, which has only one, makes it read
// past the arguments and crash the program. Whenever the bridge becomes active, this places a
// guard in front of it on the accessibility bus: GetAll is answered from the bridge's own Get of
// each property, a property call with the wrong number of arguments is refused, and every other
// call goes to the bridge unchanged. Call once the application object exists; the application
// owns the guard.
void GuardAccessibilityBridge();

}  // namespace tertulia
