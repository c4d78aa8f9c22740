#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tertulia {

// The service's side of the transcript reply, which the console reads with
// protocol/transcript_rendering.h. Texts are Windows-1252 bytes.

// One line of a conversation: the author's name and the text.
struct TranscriptLine {
    std::string author;
    std::string text;
};

// The text in the transcript's markup: "&", "<", ">" and '"' and every character from 161 to
// 255 become the HTML Latin-1 named entities that the console decodes. The no-break space (160)
// and the characters 128 to 159 (such as the euro sign) have no entity that the console decodes
// to them ("&nbsp;" gives a plain space); they travel as their own byte, which the console shows
// as that very character. Control characters, never stored, would become "?".
// The console then shows exactly what was written, except a text holding "&", the name of an
// entity other than apos, quot and amp, and ";" (such as "&lt;"): the console's decoding lets
// the ampersand of "&amp;" form an entity with the name that follows, and no markup at all
// shows such a sequence literally, so the console shows that entity's character instead.
std::string TranscriptEscape(std::string_view text);

// The whole transcript: each line "<b>AUTHOR</b>: TEXT", the lines joined by "<br>".
std::string TranscriptMarkup(const std::vector<TranscriptLine>& lines);

}  // namespace tertulia
