#include "transcript_reference.h"

#include <utility>
#include <vector>

namespace tertulia::reference {

namespace {

std::string ReplaceAll(const std::string& text, std::string_view from, std::string_view to) {
    std::string out;
    std::size_t position = 0;
    for (;;) {
        const std::size_t found = text.find(from, position);
        if (found == std::string::npos) {
            out.append(text, position);
            return out;
        }
        out.append(text, position, found - position);
        out.append(to);
        position = found + from.size();
    }
}

// The 101 steps in their order of application.
std::vector<std::pair<std::string, char>> Steps() {
    std::vector<std::pair<std::string, char>> steps = {
        {"&apos;", 39}, {"&quot;", 34}, {"&amp;", 38}, {"&lt;", 60}, {"&gt;", 62}, {"&nbsp;", 32},
    };
    auto add = [&steps](std::initializer_list<const char*> names, int firstCode) {
        int code = firstCode;
        for (const char* name : names)
            steps.emplace_back(std::string("&") + name + ";", static_cast<char>(code++));
    };
    add({"iexcl",  "cent", "pound", "curren", "yen",    "brvbar", "sect",   "uml",
         "copy",   "ordf", "laquo", "not",    "shy",    "reg",    "macr",   "deg",
         "plusmn", "sup2", "sup3",  "acute",  "micro",  "para",   "middot", "cedil",
         "sup1",   "ordm", "raquo", "frac14", "frac12", "frac34", "iquest"},
        161);
    add({"times"}, 215);
    add({"divide"}, 247);
    add({"Agrave", "Aacute", "Acirc", "Atilde", "Auml", "Aring", "AElig", "Ccedil", "Egrave",
         "Eacute", "Ecirc", "Euml", "Igrave", "Iacute", "Icirc", "Iuml", "ETH"},
        192);
    add({"ntilde"}, 241);
    add({"Ntilde"}, 209);
    add({"Ograve", "Oacute", "Ocirc", "Otilde", "Ouml"}, 210);
    add({"Oslash", "Ugrave", "Uacute", "Ucirc", "Uuml", "Yacute", "THORN", "szlig"}, 216);
    add({"agrave", "aacute", "acirc", "atilde", "auml", "aring", "aelig", "ccedil", "egrave",
         "eacute", "ecirc", "euml", "igrave", "iacute", "icirc", "iuml", "eth"},
        224);
    add({"ograve", "oacute", "ocirc", "otilde", "ouml"}, 242);
    add({"oslash", "ugrave", "uacute", "ucirc", "uuml", "yacute", "thorn", "yuml"}, 248);
    return steps;
}

std::string NormaliseLineBreaks(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (text[i] == '\n') {
            out += "\r\n";
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

std::string DecodificarEntidades(std::string_view texto) {
    static const std::vector<std::pair<std::string, char>> steps = Steps();
    std::string text(texto);
    for (const auto& [entity, character] : steps)
        text = ReplaceAll(text, entity, std::string_view(&character, 1));
    return text;
}

std::string RenderizarTranscripcion(std::string_view reply) {
    std::string text(reply);
    text = ReplaceAll(text, "<br>", "\r\n");
    text = ReplaceAll(text, "<b>", "");
    text = ReplaceAll(text, "</b>", "");
    return NormaliseLineBreaks(DecodificarEntidades(text));
}

}  // namespace tertulia::reference
