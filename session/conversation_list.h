#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "chat/chat_window.h"
#include "session/conversation_rows.h"

namespace tertulia {

// One open conversation: its id, its visitor's name and its window, which it owns.
struct Conversation {
    Conversation(std::int32_t id, std::string name, std::unique_ptr<TfrmChatClt> ventana)
        : IdSesionClt(id), visitorName(std::move(name)), window(std::move(ventana)) {}

    std::int32_t IdSesionClt = 0;
    std::string visitorName;
    std::unique_ptr<TfrmChatClt> window;
    // Waiting for the operator: from its opening until its window has had the keyboard focus,
    // and again when its visitor wrote while the window did not have it.
    bool unattended = true;
    // Its visitor's line count from the last news reply that carried one.
    std::optional<std::int64_t> visitorLines;
    bool notified = false;  // a desktop notification of it is out
};

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

    // The conversation of the selected row; nullptr when none is selected.
    Conversation* Selected();
    // The conversation whose window this is, or with this id; nullptr when none.
    Conversation* Find(const TfrmChatClt& window);
    Conversation* Find(std::int32_t idSesionClt);
    // Shows or takes away the conversation's row mark.
    void SetMarked(const Conversation& conversation, bool marked);

    const std::vector<Conversation>& Items() const { return items_; }
    std::vector<Conversation>& Items() { return items_; }

  private:
    ConversationRows& rows_;
    std::vector<Conversation> items_;
};

// Index of the first conversation with `idSesionClt`; -1 when there is none.
int BuscarItem(const ConversationList& lista, std::int32_t idSesionClt);

}  // namespace tertulia
