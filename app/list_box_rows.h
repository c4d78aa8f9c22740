#pragma once

#include <string>
#include <vector>

#include "session/conversation_rows.h"

namespace tertulia {

class TListBoxWImg;

// The conversation list's rows in the console's list box. The list box picks a row's image by
// position, so a marked row gets its own picture: while any row is marked, the image list
// holds one picture per row, plain or with the waiting mark; otherwise just the plain one.
class ListBoxRows : public ConversationRows {
  public:
    explicit ListBoxRows(TListBoxWImg& listBox) : listBox_(listBox) {}

    void AddRow(const std::string& text) override;
    void RemoveRow(int index) override;
    int SelectedRow() const override;
    void SetRowMarked(int index, bool marked) override;
    void SetRowTyping(int index, bool typing) override;

  private:
    void RebuildImages();
    // What a screen reader says of the row: its name, and the mark and typing said in words.
    void Describe(int index);

    TListBoxWImg& listBox_;
    std::vector<bool> marked_;  // by row
    std::vector<bool> typing_;  // by row
    bool showingMarks_ = false;
};

}  // namespace tertulia
