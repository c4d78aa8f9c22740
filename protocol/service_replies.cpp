#include "protocol/service_replies.h"

namespace tertulia {

std::string WriteLoginReply(std::string_view sessionId) {
    return "OK=" + std::string(sessionId);
}

std::string WriteNewsReply(const std::vector<NewsEntry>& entries,
                           const std::vector<VisitorLines>& visitorLines,
                           const std::vector<std::int32_t>& closed) {
    std::string reply = "OK lineas=";
    bool first = true;
    const auto separate = [&] {
        if (!first) reply += ';';
        first = false;
    };
    for (const VisitorLines& each : visitorLines) {
        separate();
        reply += std::to_string(each.idSesionClt) + ":" + std::to_string(each.count);
    }
    for (const std::int32_t id : closed) {
        separate();
        reply += "cerrada=" + std::to_string(id);
    }
    reply += ',';
    for (const NewsEntry& entry : entries) {
        reply += std::to_string(entry.idSesionClt) + "=" + entry.nombre + "|";
    }
    return reply;
}

std::string WriteCloseReply() {
    return "OK";
}

std::string WriteLogoutReply() {
    return "OK";
}

std::string WriteOtherConsolesReply(int count) {
    return std::to_string(count);
}

std::pair<std::string, std::string> LineNotStoredHeader() {
    return {std::string(kCabeceraLinea), std::string(kValorLineaNoGuardada)};
}

std::string WriteUpdateReply(const UpdateReply& update) {
    if (!update.outdated) return "ACTUALIZADA.";
    return "DESACTUALIZADA." + update.digest + "," + update.address;
}

}  // namespace tertulia
