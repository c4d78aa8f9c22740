#pragma once

#include <string>
#include <string_view>

namespace tertulia {

// Decodes the named entities that the service writes: "&apos;", "&quot;", "&amp;", "&lt;",
// "&gt;" and the Latin-1 set ("&nbsp;" becomes a plain space). "&amp;" removes one level of
// encoding, and the ampersand it yields forms an entity with a following name other than
// apos, quot or amp ("&amp;lt;" gives "<", "&amp;quot;" gives "&quot;"). Case-sensitive;
// numeric references stay as they are.
std::string DecodificarEntidades(std::string_view texto);

// True when the reply's first five characters are exactly "ERROR".
bool EsRespuestaDeError(std::string_view reply);

// The plain text that a transcript reply shows: "<br>" becomes a line break, "<b>" and then
// "</b>" are removed, entities are decoded, and every CR LF, lone CR and lone LF becomes CR LF.
// Linear in the reply's length.
std::string RenderizarTranscripcion(std::string_view reply);

// What a conversation window does with a transcript reply, given the text its area holds.
struct TranscriptUpdate {
    enum class Kind {
        ShowError,       // `text` is the whole reply, for the error box; the area is not touched
        LeaveUntouched,  // the rendered text equals the area's; caret and scroll stay put
        Replace,         // `text` replaces the area's whole text
    };
    Kind kind = Kind::LeaveUntouched;
    std::string text;
    bool operator==(const TranscriptUpdate&) const = default;
};
TranscriptUpdate DecidirTranscripcion(std::string_view reply, std::string_view areaText);

}  // namespace tertulia
