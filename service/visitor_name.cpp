#include "service/visitor_name.h"

#include <cstdint>
#include <vector>

#include "service/operator_api.h"

namespace tertulia {

namespace {

// The base letter of U+00C0 to U+017F in lower case, "?" for those without one.
constexpr std::string_view kLatin1Bases =
    "aaaaaa?ceeeeiiii?nooooo?ouuuuy??aaaaaa?ceeeeiiii?nooooo?ouuuuy?y";
constexpr std::string_view kLatinExtendedBases =
    "aaaaaaccccccccdddd"
    "eeeeeeeeeegggggggghhhhiiiiiiiii???jjkk?llllllllllnnnnnn???oooooo??rrrrrrsssssssstttt??uuuuuu"
    "uuuuuuwwyyyzzzzzz?";

std::vector<char32_t> CodePoints(std::string_view text) {
    std::vector<char32_t> out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        char32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < text.size(); ++k) {
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        out.push_back(cp);
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

bool IsFormatOrSeparator(char32_t c) {
    return c == 0x00AD || c == 0x061C || c == 0x180E || (c >= 0x200B && c <= 0x200F) ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2060 && c <= 0x2064) ||
           (c >= 0x2066 && c <= 0x206F) || c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB);
}

bool IsBlank(char32_t c) {
    return c == ' ' || c == '\t' || c == 0x00A0 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

bool IsCombiningMark(char32_t c) {
    return (c >= 0x0300 && c <= 0x036F) || (c >= 0x1AB0 && c <= 0x1AFF) ||
           (c >= 0x1DC0 && c <= 0x1DFF) || (c >= 0x20D0 && c <= 0x20FF) ||
           (c >= 0xFE20 && c <= 0xFE2F);
}

// The name as it reads: lower case, accents and marks dropped, outer blanks trimmed.
std::string Folded(const std::vector<char32_t>& codePoints) {
    std::string out;
    for (const char32_t c : codePoints) {
        if (IsCombiningMark(c)) continue;
        if (c < 0x80) {
            out += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        } else if (c >= 0xC0 && c < 0x100) {
            out += kLatin1Bases[c - 0xC0];
        } else if (c >= 0x100 && c < 0x180) {
            out += kLatinExtendedBases[c - 0x100];
        } else if (IsBlank(c)) {
            out += ' ';
        } else {
            out += '?';
        }
    }
    const std::size_t first = out.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

}  // namespace

std::optional<std::string> NameRefusal(std::string_view name) {
    const std::vector<char32_t> codePoints = CodePoints(name);
    for (const char32_t c : codePoints) {
        if (IsFormatOrSeparator(c)) {
            return "El nombre contiene caracteres invisibles de formato o de separación.";
        }
    }
    std::string operatorName = OperatorApi::kOperatorName;
    for (char& c : operatorName) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (Folded(codePoints) == operatorName) {
        return "El nombre «" + std::string(OperatorApi::kOperatorName) +
               "» está reservado para quien le atiende; elija otro.";
    }
    return std::nullopt;
}

}  // namespace tertulia
