#include "protocol/transcript_markup.h"

#include "text/latin1_entities.h"

namespace tertulia {

std::string TranscriptEscape(std::string_view text) {
    std::string out;
    for (const char ch : text) {
        const auto b = static_cast<unsigned char>(ch);
        switch (ch) {
            case '&':
                out += "&amp;";
                continue;
            case '<':
                out += "&lt;";
                continue;
            case '>':
                out += "&gt;";
                continue;
            case '"':
                out += "&quot;";
                continue;
            default:
                break;
        }
        if (b > 0xA0) {
            out += '&';
            out += kLatin1EntityNames[b - 0xA0];
            out += ';';
        } else if (b < 0x20 || b == 0x7F) {
            out += '?';
        } else {
            out += ch;
        }
    }
    return out;
}

std::string TranscriptMarkup(const std::vector<TranscriptLine>& lines) {
    std::string out;
    for (const TranscriptLine& line : lines) {
        if (!out.empty()) out += "<br>";
        out += "<b>";
        out += TranscriptEscape(line.author);
        out += "</b>: ";
        out += TranscriptEscape(line.text);
    }
    return out;
}

}  // namespace tertulia
