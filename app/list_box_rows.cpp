#include "app/list_box_rows.h"

#include "widgets/qt/list_box_w_img.h"
#include "widgets/qt/windows_1252.h"

namespace tertulia {

void ListBoxRows::AddRow(const std::string& text) {
    listBox_.addItem(ToQString(text));
}

void ListBoxRows::RemoveRow(int index) {
    delete listBox_.takeItem(index);
}

int ListBoxRows::SelectedRow() const {
    const QListWidgetItem* item = listBox_.currentItem();
    return item != nullptr && item->isSelected() ? listBox_.row(item) : -1;
}

}  // namespace tertulia
