#pragma once

#include <QFont>

namespace tertulia {

// "MS Sans Serif" 8 point (11 pixels), or the nearest sans-serif font the machine has.
QFont DialogFont(bool bold);

// "Fixedsys", or a fixed-pitch font the machine has.
QFont FixedPitchFont();

}  // namespace tertulia
