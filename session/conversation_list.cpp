#include "session/conversation_list.h"

#include <algorithm>

namespace tertulia {

void ConversationList::Add(Conversation conversation) {
    rows_.AddRow(conversation.visitorName);
    items_.push_back(std::move(conversation));
}

std::unique_ptr<TfrmChatClt> ConversationList::Remove(const TfrmChatClt& window) {
    const auto found = std::find_if(items_.begin(), items_.end(), [&window](const auto& item) {
        return item.window.get() == &window;
    });
    if (found == items_.end()) return nullptr;
    rows_.RemoveRow(static_cast<int>(found - items_.begin()));
    std::unique_ptr<TfrmChatClt> removed = std::move(found->window);
    items_.erase(found);
    return removed;
}

Conversation* ConversationList::Selected() {
    const int index = rows_.SelectedRow();
    if (index < 0 || index >= static_cast<int>(items_.size())) return nullptr;
    return &items_[static_cast<std::size_t>(index)];
}

Conversation* ConversationList::Find(const TfrmChatClt& window) {
    for (Conversation& each : items_) {
        if (each.window.get() == &window) return &each;
    }
    return nullptr;
}

Conversation* ConversationList::Find(std::int32_t idSesionClt) {
    const int index = BuscarItem(*this, idSesionClt);
    return index < 0 ? nullptr : &items_[static_cast<std::size_t>(index)];
}

void ConversationList::SetMarked(const Conversation& conversation, bool marked) {
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (&items_[i] == &conversation) rows_.SetRowMarked(static_cast<int>(i), marked);
    }
}

int BuscarItem(const ConversationList& lista, std::int32_t idSesionClt) {
    const auto& items = lista.Items();
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].IdSesionClt == idSesionClt) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace tertulia
