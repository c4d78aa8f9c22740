#pragma once

#include <QByteArray>
#include <QPixmap>

namespace tertulia {

// The pictures compiled into the program.

// The 32 x 32 notification-area icon.
QPixmap TrayIconPixmap();
// The 32 x 32 picture beside each conversation in the console's list.
QPixmap ConversationPixmap();
// The banner as JPEG bytes (274 x 50); DecodeJpeg turns it into an image.
QByteArray BannerJpeg();

}  // namespace tertulia
