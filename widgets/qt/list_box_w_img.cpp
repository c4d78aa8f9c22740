#include "widgets/qt/list_box_w_img.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>

namespace tertulia {

namespace {

// The dotted focus rectangle: every other pixel of the row's border, inverted.
void DrawFocusRect(QPainter& painter, const QRect& rect) {
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_Difference);
    const QColor white(Qt::white);
    int step = 0;
    auto dot = [&](int x, int y) {
        if (step++ % 2 == 0) painter.fillRect(x, y, 1, 1, white);
    };
    for (int x = rect.left(); x < rect.right(); ++x) dot(x, rect.top());
    for (int y = rect.top(); y < rect.bottom(); ++y) dot(rect.right(), y);
    for (int x = rect.right(); x > rect.left(); --x) dot(x, rect.bottom());
    for (int y = rect.bottom(); y > rect.top(); --y) dot(rect.left(), y);
    painter.restore();
}

}  // namespace

// Sets up the canvas for each row as a classic owner-drawn list box does, and calls the list's
// draw handler while the style is lbOwnerDrawFixed.
class TListBoxWImg::RowDelegate : public QStyledItemDelegate {
  public:
    explicit RowDelegate(TListBoxWImg& list) : QStyledItemDelegate(&list), list_(list) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        if (list_.Style() != lbOwnerDrawFixed) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        const QPalette& palette = list_.palette();
        TCanvas canvas{*painter, list_.font(), palette.color(QPalette::Active, QPalette::Base),
                       palette.color(QPalette::Active, QPalette::Text)};
        TOwnerDrawState state = 0;
        if (option.state & QStyle::State_Selected) {
            state |= odSelected;
            canvas.brushColor = palette.color(QPalette::Active, QPalette::Highlight);
            canvas.fontColor = palette.color(QPalette::Active, QPalette::HighlightedText);
        }
        if (option.state & QStyle::State_HasFocus) state |= odFocused;

        painter->save();
        if (list_.OnDrawItem) {
            list_.OnDrawItem(list_, canvas, index.row(), option.rect, state);
        } else {
            painter->fillRect(option.rect, canvas.brushColor);
            painter->setFont(canvas.font);
            painter->setPen(canvas.fontColor);
            const QFontMetrics metrics(canvas.font);
            painter->drawText(option.rect.left() + 2, option.rect.top() + metrics.ascent(),
                              index.data(Qt::DisplayRole).toString());
        }
        painter->restore();
        if (state & odFocused) DrawFocusRect(*painter, option.rect);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        if (list_.Style() != lbOwnerDrawFixed) return QStyledItemDelegate::sizeHint(option, index);
        return QSize(option.rect.width(), list_.ItemHeight());
    }

  private:
    TListBoxWImg& list_;
};

TListBoxWImg::TListBoxWImg(QWidget* parent) : QListWidget(parent) {
    setItemDelegate(new RowDelegate(*this));
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
}

void TListBoxWImg::SetStyle(TListBoxStyle value) {
    style_ = value;
    scheduleDelayedItemsLayout();
    viewport()->update();
}

void TListBoxWImg::SetItemHeight(int value) {
    itemHeight_ = value;
    scheduleDelayedItemsLayout();
    viewport()->update();
}

void TListBoxWImg::SetImagenes(TImageList* value) {
    if (value == nullptr) {
        imagenes_ = nullptr;
        viewport()->update();
        return;
    }
    SetStyle(lbOwnerDrawFixed);
    OnDrawItem = [](TListBoxWImg& control, TCanvas& canvas, int index, const QRect& rect,
                    TOwnerDrawState state) { control.DrawImageItem(canvas, index, rect, state); };
    imagenes_ = value;
    SetItemHeight(value->Height());
}

void TListBoxWImg::DrawImageItem(TCanvas& canvas, int index, const QRect& rect, TOwnerDrawState) {
    if (imagenes_ == nullptr) return;
    const int images = imagenes_->Count();
    int image = -1;
    if (count() <= images) {
        image = index;
    } else if (images > 0) {
        image = std::min(index, images - 1);
    }

    QPainter& painter = canvas.painter;
    painter.fillRect(rect, canvas.brushColor);
    if (image >= 0) imagenes_->Draw(image, painter, rect.topLeft());

    const QListWidgetItem* entry = item(index);
    const QString text = entry != nullptr ? entry->text() : QString();
    // h is the height of a line of the font (ascent + descent), what a line of "T" occupies.
    const QFontMetrics metrics(canvas.font);
    const int h = metrics.height();
    const int w = imagenes_->Width();
    // Centred on the image by its width; the images are square.
    const int x = rect.left() + w + 2;
    const int y = rect.top() + w / 2 - h / 2;
    painter.fillRect(QRect(x, y, metrics.horizontalAdvance(text), h), canvas.brushColor);
    painter.setFont(canvas.font);
    painter.setPen(canvas.fontColor);
    painter.drawText(x, y + metrics.ascent(), text);
}

void TListBoxWImg::mouseDoubleClickEvent(QMouseEvent* event) {
    QListWidget::mouseDoubleClickEvent(event);
    emit DblClick();
}

void TListBoxWImg::keyPressEvent(QKeyEvent* event) {
    const QListWidgetItem* current = currentItem();
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    const int key = event->key();
    // Without a selected row, Space selects the current one as usual.
    if (plain && (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) &&
        current != nullptr && current->isSelected()) {
        event->accept();
        emit DblClick();
        return;
    }
    QListWidget::keyPressEvent(event);
}

}  // namespace tertulia
