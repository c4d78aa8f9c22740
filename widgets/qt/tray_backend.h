#pragma once

#include <memory>

#include "widgets/tray_icon.h"

class QWidget;

namespace tertulia {

// The tray on Qt: a QSystemTrayIcon, made a child of `window`, which is the main form that the
// icon hides into the notification area and brings back. `window` outlives the tray.
std::unique_ptr<TTrayIcon> MakeQtTrayIcon(QWidget& window);

}  // namespace tertulia
