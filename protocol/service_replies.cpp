#include "protocol/service_replies.h"

namespace tertulia {

std::string EscribirRespuestaLogin(std::string_view idSesion) {
    return "OK=" + std::string(idSesion);
}

std::string EscribirRespuestaNoticias(const std::vector<NewsEntry>& entries,
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

std::string EscribirRespuestaCierre() {
    return "OK";
}

std::string EscribirRespuestaCierreSesion() {
    return "OK";
}

std::pair<std::string, std::string> EscribirCabeceraLineaNoGuardada() {
    return {std::string(kCabeceraLinea), std::string(kValorLineaNoGuardada)};
}

std::string EscribirRespuestaActualizacion(const UpdateReply& update) {
    if (!update.outdated) return "ACTUALIZADA.";
    return "DESACTUALIZADA." + update.digest + "," + update.address;
}

}  // namespace tertulia
