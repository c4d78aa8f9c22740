#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tertulia {

// One line of a conversation as the service keeps it: the author's name and the text, UTF-8.
struct TranscriptLine {
    std::string author;
    std::string text;
};

// Windows-1252 bytes of UTF-8 text in the transcript's markup: "&", "<", ">" and '"' and every
// character from 160 to 255 become the HTML Latin-1 named entities that the console decodes
// (160 as "&nbsp;", which the console shows as a plain space). The Windows-1252 characters
// 128 to 159 (such as the euro sign) have no such entity; they travel as their own byte, which
// the console shows as that very character. Control characters, never stored, would become "?".
std::string TranscriptEscape(std::string_view text);

// The whole transcript: each line "<b>AUTHOR</b>: TEXT", the lines joined by "<br>".
std::string TranscriptMarkup(const std::vector<TranscriptLine>& lines);

}  // namespace tertulia
