#pragma once

#include <QByteArray>
#include <QImage>

namespace tertulia {

// Decodes a JPEG picture with libjpeg. A damaged or foreign picture, including one whose data
// libjpeg would only warn about, throws std::runtime_error naming the fault.
QImage DecodeJpeg(const QByteArray& bytes);

// The console's banner picture, 274 x 50, decoded from the copy compiled into the program.
QImage LoadBanner();

}  // namespace tertulia
