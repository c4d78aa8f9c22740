#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "chat/chat_window.h"
#include "session/conversation_rows.h"

namespace tertulia {

// One open conversation: its id, its visitor's name and its window, which it owns.
struct Conversation {
    std::int32_t IdSesionClt = 0;
    std::string visitorName;
    std::unique_ptr<TfrmChatClt> window;
};

// A conversation window's caption: "Conversacion con : " and the visitor's name.
std::string CaptionOf(const std::string& visitorName);

// The console's conversation list, in the order of opening: the one owner of every listed
// conversation and the only code that adds or removes rows of the list box.
class ConversationList {
  public:
    explicit ConversationList(ConversationRows& rows) : rows_(rows) {}
    ConversationList(const ConversationList&) = delete;
    ConversationList& operator=(const ConversationList&) = delete;

    // Appends the conversation and its row.
    void Add(Conversation conversation);
    // Removes the conversation whose window this is, with its row, and hands the window over;
    // nothing when no listed conversation has this window.
    std::unique_ptr<TfrmChatClt> Remove(const TfrmChatClt& window);
    // Removes every conversation with its row and hands their windows over.
    std::vector<std::unique_ptr<TfrmChatClt>> RemoveAll();

    // The conversation of the selected row; nullptr when none is selected.
    const Conversation* Selected() const;
    // The conversation whose window this is, or with this id; nullptr when none.
    const Conversation* Find(const TfrmChatClt& window) const;
    const Conversation* Find(std::int32_t idSesionClt) const;
    // Shows or takes away the row mark of the conversation with this id.
    void SetMarked(std::int32_t idSesionClt, bool marked);
    // Says, or stops saying, in the row of the conversation with this id that its visitor types.
    void SetTyping(std::int32_t idSesionClt, bool typing);

    const std::vector<Conversation>& Items() const { return items_; }

  private:
    ConversationRows& rows_;
    std::vector<Conversation> items_;
};

// Index of the first conversation with `idSesionClt`; -1 when there is none.
int BuscarItem(const ConversationList& lista, std::int32_t idSesionClt);

}  // namespace tertulia
