#pragma once

#include <QByteArray>
#include <QPixmap>

namespace tertulia {

// The pictures compiled into the program.

// The 32 x 32 notification-area icon.
QPixmap TrayIconPixmap();
// The 32 x 32 picture beside each conversation in the console's list.
QPixmap ConversationPixmap();
// `picture` with our mark of a conversation that waits for the operator: an orange disc with
// an exclamation mark in its top right quarter.
QPixmap WithWaitingMark(const QPixmap& picture);
// `picture` greyed, with a red cross: the service is out of reach.
QPixmap Disconnected(const QPixmap& picture);
// The banner as JPEG bytes (274 x 50); DecodeJpeg turns it into an image.
QByteArray BannerJpeg();

}  // namespace tertulia
