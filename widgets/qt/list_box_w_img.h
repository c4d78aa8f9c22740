#pragma once

#include <QColor>
#include <QFont>
#include <QListWidget>
#include <QPointer>
#include <QRect>

#include <functional>

#include "widgets/qt/image_list.h"

class QPainter;

namespace tertulia {

enum TListBoxStyle { lbStandard, lbOwnerDrawFixed };

// State of a row being drawn.
using TOwnerDrawState = unsigned;
constexpr TOwnerDrawState odSelected = 1u << 0;
constexpr TOwnerDrawState odFocused = 1u << 1;

// What an owner-draw handler paints with: the painter and the font and brush that the list box
// chose for the row (its own, or the highlight colours when the row is selected).
struct TCanvas {
    QPainter& painter;
    QFont font;
    QColor brushColor;
    QColor fontColor;
};

class TListBoxWImg;
using TDrawItemEvent = std::function<void(TListBoxWImg& control, TCanvas& canvas, int index,
                                          const QRect& rect, TOwnerDrawState state)>;

// A list box that draws each entry as a row with an image of `Imagenes` at its left and the
// entry's text beside it. Entries are the QListWidget's items; their attached data is never
// looked at here.
class TListBoxWImg : public QListWidget {
    Q_OBJECT

  public:
    explicit TListBoxWImg(QWidget* parent = nullptr);

    TListBoxStyle Style() const { return style_; }
    void SetStyle(TListBoxStyle value);
    // Height of every row while the style is lbOwnerDrawFixed.
    int ItemHeight() const { return itemHeight_; }
    void SetItemHeight(int value);

    TImageList* Imagenes() const { return imagenes_; }
    // Makes the rows owner-drawn by DrawImageItem, as high as the images. Not owned; when it is
    // cleared (or destroyed) the rows keep their style and height and show nothing.
    void SetImagenes(TImageList* value);

    // Draws one row; called with the canvas set up for the row.
    TDrawItemEvent OnDrawItem;
    void DrawImageItem(TCanvas& canvas, int index, const QRect& rect, TOwnerDrawState state);

  signals:
    // Any double-click on the control, and Enter or Space on its selected row: the keyboard's
    // way to the same.
    void DblClick();

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    class RowDelegate;

    TListBoxStyle style_ = lbStandard;
    int itemHeight_ = 16;
    QPointer<TImageList> imagenes_;
};

}  // namespace tertulia
