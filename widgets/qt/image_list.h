#pragma once

#include <QObject>
#include <QPixmap>
#include <QPoint>

#include <vector>

#include "widgets/tray.h"

class QPainter;

namespace tertulia {

// A list of pictures of one size, drawn by position. A QObject so that users can hold it in a
// QPointer and notice when it goes away.
class TImageList : public QObject, public TrayImageList {
    Q_OBJECT

  public:
    TImageList(int width, int height, QObject* parent = nullptr);

    int Width() const { return width_; }
    int Height() const { return height_; }
    int Count() const override { return static_cast<int>(images_.size()); }

    // Adds a picture, scaled to the list's size when it has another; returns its index.
    int Add(const QPixmap& image);
    void Clear() { images_.clear(); }
    // Draws image `index` with its top left corner at `at`; transparent pixels stay untouched.
    void Draw(int index, QPainter& painter, QPoint at) const;
    TIcon GetIcon(int index) const override;

  private:
    int width_;
    int height_;
    std::vector<QPixmap> images_;
};

}  // namespace tertulia
