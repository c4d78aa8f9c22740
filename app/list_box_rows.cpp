#include "app/list_box_rows.h"

#include <algorithm>

#include "widgets/qt/list_box_w_img.h"
#include "widgets/qt/resources.h"
#include "widgets/qt/windows_1252.h"

namespace tertulia {

void ListBoxRows::AddRow(const std::string& text) {
    listBox_.addItem(ToQString(text));
    marked_.push_back(false);
    typing_.push_back(false);
    RebuildImages();
}

void ListBoxRows::RemoveRow(int index) {
    delete listBox_.takeItem(index);
    if (index >= 0 && static_cast<std::size_t>(index) < marked_.size()) {
        marked_.erase(marked_.begin() + index);
        typing_.erase(typing_.begin() + index);
    }
    RebuildImages();
}

int ListBoxRows::SelectedRow() const {
    const QListWidgetItem* item = listBox_.currentItem();
    return item != nullptr && item->isSelected() ? listBox_.row(item) : -1;
}

void ListBoxRows::SetRowMarked(int index, bool marked) {
    if (index < 0 || static_cast<std::size_t>(index) >= marked_.size()) return;
    if (marked_[static_cast<std::size_t>(index)] == marked) return;
    marked_[static_cast<std::size_t>(index)] = marked;
    Describe(index);
    RebuildImages();
}

void ListBoxRows::SetRowTyping(int index, bool typing) {
    if (index < 0 || static_cast<std::size_t>(index) >= typing_.size()) return;
    typing_[static_cast<std::size_t>(index)] = typing;
    Describe(index);
}

void ListBoxRows::Describe(int index) {
    QListWidgetItem* row = listBox_.item(index);
    if (row == nullptr) return;
    const auto at = static_cast<std::size_t>(index);
    // The mark is a picture; a screen reader says it with the row's name instead.
    QString said = row->text();
    if (typing_[at]) said += QStringLiteral(", escribiendo");
    if (marked_[at]) said += QStringLiteral(", espera respuesta");
    row->setData(Qt::AccessibleTextRole, typing_[at] || marked_[at] ? QVariant(said) : QVariant());
}

void ListBoxRows::RebuildImages() {
    TImageList* images = listBox_.Imagenes();
    if (images == nullptr) return;
    const bool anyMarked = std::find(marked_.begin(), marked_.end(), true) != marked_.end();
    // Unmarked rows all share the one plain picture, which the list already holds.
    if (!anyMarked && !showingMarks_) return;
    showingMarks_ = anyMarked;
    const std::size_t wanted = anyMarked ? marked_.size() : 1;
    images->Clear();
    const QPixmap plain = ConversationPixmap();
    const QPixmap withMark = anyMarked ? WithWaitingMark(plain) : QPixmap();
    for (std::size_t row = 0; row < wanted; ++row) {
        images->Add(anyMarked && marked_[row] ? withMark : plain);
    }
    listBox_.viewport()->update();
}

}  // namespace tertulia
