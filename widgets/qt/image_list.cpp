#include "widgets/qt/image_list.h"

#include <QPainter>

#include "widgets/qt/icon_picture.h"

namespace tertulia {

TImageList::TImageList(int width, int height, QObject* parent)
    : QObject(parent), width_(width), height_(height) {}

int TImageList::Add(const QPixmap& image) {
    if (image.width() == width_ && image.height() == height_) {
        images_.push_back(image);
    } else {
        images_.push_back(
            image.scaled(width_, height_, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }
    return Count() - 1;
}

void TImageList::Draw(int index, QPainter& painter, QPoint at) const {
    if (index < 0 || index >= Count()) return;
    painter.drawPixmap(at, images_[static_cast<std::size_t>(index)]);
}

TIcon TImageList::GetIcon(int index) const {
    if (index < 0 || index >= Count()) return {};
    return MakeIcon(images_[static_cast<std::size_t>(index)]);
}

}  // namespace tertulia
