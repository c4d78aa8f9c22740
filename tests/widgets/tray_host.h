#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QSystemTrayIcon>
#include <QThread>

#include <cstdlib>

namespace tertulia {

// Whether a notification area is there: the offscreen desktop has none; the run under Xvfb with
// trayer (tests/with_tray_host.sh) says that it provides one.
inline bool TrayHostRuns() {
    if (std::getenv("TERTULIA_TRAY_HOST") == nullptr) return false;
    // The host claims the notification area a moment after its window has appeared.
    QDeadlineTimer deadline(10000);
    while (!QSystemTrayIcon::isSystemTrayAvailable() && !deadline.hasExpired()) {
        QApplication::processEvents();
        QThread::msleep(50);
    }
    return true;
}

}  // namespace tertulia
