#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tertulia {

class TfrmChatClt;

// The object beside a visitor's name in the console's conversation list.
struct TInfoItem {
    std::int32_t IdSesionClt = 0;
    TfrmChatClt* Ventana = nullptr;
};

// One item of the conversation list: the visitor's name and its entry, which the list owns.
struct ConversationItem {
    std::string Texto;
    std::unique_ptr<TInfoItem> Objeto;
};

// The items in the order of opening.
using ConversationList = std::vector<ConversationItem>;

// Index of the first item whose entry holds `idSesionClt`; items without an entry are skipped;
// -1 when there is none.
int BuscarItem(const ConversationList& lista, std::int32_t idSesionClt);

}  // namespace tertulia
