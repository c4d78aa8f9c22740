#include "session/conversation_list.h"

namespace tertulia {

int BuscarItem(const ConversationList& lista, std::int32_t idSesionClt) {
    for (std::size_t i = 0; i < lista.size(); ++i) {
        const TInfoItem* item = lista[i].Objeto.get();
        if (item != nullptr && item->IdSesionClt == idSesionClt) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace tertulia
