#include "session/waiting_notices.h"

#include "chat/transcript_rendering.h"

namespace tertulia {

std::string NotificationBody(std::string_view visitorLine) {
    if (visitorLine.size() <= kNotificationLineLength) return std::string(visitorLine);
    return std::string(visitorLine.substr(0, kNotificationLineLength)) + "\x85";
}

std::optional<std::string> UltimaLineaDelVisitante(std::string_view reply,
                                                   std::string_view visitorName) {
    if (EsRespuestaDeError(reply) || visitorName.empty()) return std::nullopt;
    const std::string shown = RenderizarTranscripcion(reply);
    const std::string author = std::string(visitorName) + ": ";
    // Every line of the transcript starts with its author: the service writes no line break
    // inside a line.
    std::size_t end = shown.size();
    while (true) {
        const std::size_t breakAt = end == 0 ? std::string::npos : shown.rfind("\r\n", end - 1);
        const std::size_t begin = breakAt == std::string::npos ? 0 : breakAt + 2;
        const std::string_view line(shown.data() + begin, end - begin);
        if (line.starts_with(author)) return std::string(line.substr(author.size()));
        if (breakAt == std::string::npos) return std::nullopt;
        end = breakAt;
    }
}

std::string WaitingSummary(int count) {
    return std::to_string(count) + " conversaciones esperan respuesta";
}

}  // namespace tertulia
