#include "protocol/service_replies.h"

namespace tertulia {

std::string EscribirRespuestaLogin(std::string_view idSesion) {
    return "OK=" + std::string(idSesion);
}

std::string EscribirRespuestaNoticias(const std::vector<NewsEntry>& entries,
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
