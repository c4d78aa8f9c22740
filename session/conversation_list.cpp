#include "session/conversation_list.h"

#include <algorithm>

namespace tertulia {

std::string CaptionOf(const std::string& visitorName) {
    return "Conversacion con : " + visitorName;
}

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

std::vector<std::unique_ptr<TfrmChatClt>> ConversationList::RemoveAll() {
    std::vector<std::unique_ptr<TfrmChatClt>> removed;
    while (!items_.empty()) {
        rows_.RemoveRow(static_cast<int>(items_.size()) - 1);
        removed.push_back(std::move(items_.back().window));
        items_.pop_back();
    }
    return removed;
}

const Conversation* ConversationList::Selected() const {
    const int index = rows_.SelectedRow();
    if (index < 0 || index >= static_cast<int>(items_.size())) return nullptr;
    return &items_[static_cast<std::size_t>(index)];
}

const Conversation* ConversationList::Find(const TfrmChatClt& window) const {
    for (const Conversation& each : items_) {
        if (each.window.get() == &window) return &each;
    }
    return nullptr;
}

const Conversation* ConversationList::Find(std::int32_t idSesionClt) const {
    const int index = BuscarItem(*this, idSesionClt);
    return index < 0 ? nullptr : &items_[static_cast<std::size_t>(index)];
}

void ConversationList::SetMarked(std::int32_t idSesionClt, bool marked) {
    const int index = BuscarItem(*this, idSesionClt);
    if (index >= 0) rows_.SetRowMarked(index, marked);
}

void ConversationList::SetTyping(std::int32_t idSesionClt, bool typing) {
    const int index = BuscarItem(*this, idSesionClt);
    if (index >= 0) rows_.SetRowTyping(index, typing);
}

int BuscarItem(const ConversationList& lista, std::int32_t idSesionClt) {
    const auto& items = lista.Items();
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].IdSesionClt == idSesionClt) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace tertulia
