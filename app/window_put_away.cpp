#include "app/window_put_away.h"

#include <QSystemTrayIcon>
#include <QWidget>

namespace tertulia {

bool NotificationAreaAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void PutAway(QWidget& window) {
    if (NotificationAreaAvailable()) {
        window.hide();
    } else {
        window.showMinimized();
    }
}

}  // namespace tertulia
