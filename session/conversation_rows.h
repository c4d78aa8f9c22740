#pragma once

#include <string>

namespace tertulia {

// The rows of the list box ListBoxWImg1 as the console's conversation list keeps them: the
// visitors' names, in the order of opening.
class ConversationRows {
  public:
    virtual ~ConversationRows() = default;
    virtual void AddRow(const std::string& text) = 0;
    virtual void RemoveRow(int index) = 0;
    virtual int SelectedRow() const = 0;  // -1 when none
    // Shows or takes away the row's mark of a conversation that waits for the operator.
    virtual void SetRowMarked(int index, bool marked) = 0;
    // Whether the row tells a screen reader that the conversation's visitor is typing.
    virtual void SetRowTyping(int index, bool typing) = 0;
};

}  // namespace tertulia
