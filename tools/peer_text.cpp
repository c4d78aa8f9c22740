#include "tools/peer_text.h"

namespace tertulia::tool {

std::string EscapeControlCharacters(std::string_view text) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const auto code = static_cast<unsigned char>(c);
        switch (c) {
            case '\\':
                escaped += "\\\\";
                break;
            case '\t':
                escaped += "\\t";
                break;
            case '\r':
                escaped += "\\r";
                break;
            case '\n':
                escaped += "\\n";
                break;
            default:
                if (code < 32 || code == 127) {
                    escaped += "\\x";
                    escaped += kHexDigits[code >> 4];
                    escaped += kHexDigits[code & 15];
                } else {
                    escaped += c;
                }
        }
    }
    return escaped;
}

}  // namespace tertulia::tool
