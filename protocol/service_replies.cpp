#include "protocol/service_replies.h"

namespace tertulia {

std::string WriteLoginReply(std::string_view sessionId) {
    return "OK=" + std::string(sessionId);
}

std::string WriteNewsReply(const std::vector<NewsEntry>& entries,
                           const std::vector<VisitorLines>& visitorLines) {
    std::string reply = "OK lineas=";
    for (std::size_t i = 0; i < visitorLines.size(); ++i) {
        if (i > 0) reply += ';';
        reply += std::to_string(visitorLines[i].idSesionClt) + ":" +
                 std::to_string(visitorLines[i].count);
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

std::pair<std::string, std::string> LineNotStoredHeader() {
    return {std::string(kCabeceraLinea), std::string(kValorLineaNoGuardada)};
}

std::string WriteUpdateReply(const UpdateReply& update) {
    if (!update.outdated) return "ACTUALIZADA.";
    return "DESACTUALIZADA." + update.digest + "," + update.address;
}

}  // namespace tertulia
