#pragma once

#include <string>

#include "session/conversation_rows.h"

namespace tertulia {

class TListBoxWImg;

// The conversation list's rows in the console's list box.
class ListBoxRows : public ConversationRows {
  public:
    explicit ListBoxRows(TListBoxWImg& listBox) : listBox_(listBox) {}

    void AddRow(const std::string& text) override;
    void RemoveRow(int index) override;
    int SelectedRow() const override;

  private:
    TListBoxWImg& listBox_;
};

}  // namespace tertulia
