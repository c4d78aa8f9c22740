#pragma once

#include <QIcon>
#include <QPixmap>

#include <memory>

#include "widgets/tray.h"

namespace tertulia {

// An icon picture as the Qt desktop shows it.
class QtIconPicture : public IconPicture {
  public:
    explicit QtIconPicture(QIcon icon) : icon_(std::move(icon)) {}
    const QIcon& Icon() const { return icon_; }

  private:
    QIcon icon_;
};

inline TIcon MakeIcon(const QPixmap& pixmap) {
    return TIcon(std::make_shared<const QtIconPicture>(QIcon(pixmap)));
}

}  // namespace tertulia
