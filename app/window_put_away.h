#pragma once

class QWidget;

namespace tertulia {

// Whether the desktop offers a notification area now, from which the program's icon brings
// hidden windows back.
bool NotificationAreaAvailable();

// What closing a window does: it is hidden where the notification area keeps the program
// reachable, and minimised where the desktop has none, so that it can still be found.
void PutAway(QWidget& window);

}  // namespace tertulia
