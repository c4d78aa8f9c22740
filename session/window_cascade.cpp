#include "session/window_cascade.h"

namespace tertulia {

ScreenRect NextCascadePlace(const ScreenRect& previous, const ScreenRect& usable) {
    ScreenRect next = previous;
    next.left += kCascadeStep;
    next.top += kCascadeStep;
    const bool leaves = next.left + next.width > usable.left + usable.width ||
                        next.top + next.height > usable.top + usable.height;
    if (leaves) {
        next.left = usable.left;
        next.top = usable.top;
    }
    return next;
}

}  // namespace tertulia
