#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace tertulia {

// The console's reading of the transcript's markup (written by protocol/transcript_markup.h).

// Decodes the named entities that the service writes: "&apos;", "&quot;", "&amp;", "&lt;",
// "&gt;" and the Latin-1 set ("&nbsp;" becomes a plain space). "&amp;" removes one level of
// encoding, and the ampersand it yields forms an entity with a following name other than
// apos, quot or amp ("&amp;lt;" gives "<", "&amp;quot;" gives "&quot;"). Case-sensitive;
// numeric references stay as they are.
std::string DecodificarEntidades(std::string_view texto);

// True when the reply's first five characters are exactly "ERROR".
bool IsErrorReply(std::string_view reply);

// The plain text that a transcript reply shows: "<br>" becomes a line break, "<b>" and then
// "</b>" are removed, entities are decoded, and every CR LF, lone CR and lone LF becomes CR LF.
// Linear in the reply's length.
std::string RenderizarTranscripcion(std::string_view reply);

// Renders a transcript reply that arrives in pieces split anywhere, inside a tag or an entity
// too: the texts it gives, joined, are exactly RenderizarTranscripcion of the whole reply. It
// holds back only the few bytes that the next piece could still change, and its memory stays
// bounded by the size of the pieces however long the reply is. One reply per renderer.
class StreamingTranscriptRenderer {
  public:
    // The piece size that it works in; larger pieces are taken, and cost memory.
    static constexpr std::size_t kPiece = 64 * 1024;

    StreamingTranscriptRenderer();
    ~StreamingTranscriptRenderer();
    StreamingTranscriptRenderer(const StreamingTranscriptRenderer&) = delete;
    StreamingTranscriptRenderer& operator=(const StreamingTranscriptRenderer&) = delete;

    // Takes the reply's next bytes and gives the rendered text that is final; the view is
    // valid until the next call.
    std::string_view Add(std::string_view piece);
    // The reply has ended: gives the rest of the rendered text, valid while the renderer lives.
    std::string_view Finish();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace tertulia
