#include "session/waiting_notices.h"

#include <utility>
#include <vector>

#include "protocol/transcript_rendering.h"

namespace tertulia {

std::string NotificationBody(std::string_view visitorLine) {
    if (visitorLine.size() <= kNotificationLineLength) return std::string(visitorLine);
    return std::string(visitorLine.substr(0, kNotificationLineLength)) + "\x85";
}

namespace {

// The texts of the lines of a transcript reply that `visitorName` wrote, in order. Every line of
// a transcript starts with its author's name: the service writes no line break inside a line,
// and no visitor is called "Operador".
std::vector<std::string> LinesBy(std::string_view reply, std::string_view visitorName) {
    std::vector<std::string> lines;
    if (IsErrorReply(reply) || visitorName.empty()) return lines;
    const std::string shown = RenderizarTranscripcion(reply);
    const std::string author = std::string(visitorName) + ": ";
    std::size_t begin = 0;
    while (begin <= shown.size()) {
        std::size_t end = shown.find("\r\n", begin);
        if (end == std::string::npos) end = shown.size();
        const std::string_view line(shown.data() + begin, end - begin);
        if (line.starts_with(author)) lines.emplace_back(line.substr(author.size()));
        begin = end + 2;
    }
    return lines;
}

}  // namespace

std::optional<std::string> UltimaLineaDelVisitante(std::string_view reply,
                                                   std::string_view visitorName) {
    std::vector<std::string> lines = LinesBy(reply, visitorName);
    if (lines.empty()) return std::nullopt;
    return std::move(lines.back());
}

std::int64_t LineasEscritasPor(std::string_view reply, std::string_view visitorName) {
    return static_cast<std::int64_t>(LinesBy(reply, visitorName).size());
}

std::string WaitingSummary(int count) {
    return std::to_string(count) + " conversaciones esperan respuesta";
}

}  // namespace tertulia
