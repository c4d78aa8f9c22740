#include "chat/transcript_update.h"

#include "protocol/transcript_rendering.h"

namespace tertulia {

TranscriptUpdate DecideTranscriptUpdate(std::string_view reply, std::string_view areaText) {
    if (IsErrorReply(reply)) return {TranscriptUpdate::Kind::ShowError, std::string(reply)};
    std::string rendered = RenderizarTranscripcion(reply);
    if (rendered == areaText) return {TranscriptUpdate::Kind::LeaveUntouched, std::move(rendered)};
    return {TranscriptUpdate::Kind::Replace, std::move(rendered)};
}

}  // namespace tertulia
