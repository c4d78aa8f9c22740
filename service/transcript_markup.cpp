#include "service/transcript_markup.h"

#include <array>

#include "service/charset.h"

namespace tertulia {

namespace {

// HTML Latin-1 entity names of the characters 160 to 255, in code order.
constexpr std::array<const char*, 96> kLatin1Names = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",
    "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn",
    "sup2",   "sup3",   "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",
    "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde",
    "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave",
    "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde",
    "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",
    "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil",
    "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",   "eth",
    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave",
    "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml",
};

}  // namespace

std::string TranscriptEscape(std::string_view text) {
    std::string out;
    for (const char ch : Windows1252FromUtf8(text)) {
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
        if (b >= 0xA0) {
            out += '&';
            out += kLatin1Names[b - 0xA0];
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
