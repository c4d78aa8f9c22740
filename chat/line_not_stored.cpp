#include "chat/line_not_stored.h"

#include "protocol/transcript_rendering.h"

namespace tertulia {

std::string MotivoLineaNoGuardada(std::string_view reply) {
    if (IsErrorReply(reply)) return std::string(reply);
    const std::string shown = RenderizarTranscripcion(reply);
    const std::size_t lineBreak = shown.rfind("\r\n");
    std::string_view last(shown);
    if (lineBreak != std::string::npos) last.remove_prefix(lineBreak + 2);
    const std::size_t author = last.find(": ");
    if (author != std::string_view::npos) last.remove_prefix(author + 2);
    if (last.empty()) return "La l\xEDnea no se ha guardado.";
    return std::string(last);
}

}  // namespace tertulia
