#include "service/json_text.h"

#include <cstdio>

#include "service/charset.h"

namespace tertulia {

namespace {

void AppendEscape(std::string& out, unsigned code) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\u%04x", code);
    out += buffer;
}

}  // namespace

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    std::size_t pos = 0;
    while (pos < text.size()) {
        // Take one UTF-8 character, or one stray byte.
        std::size_t size = 1;
        while (size <= 4 && pos + size <= text.size() &&
               !Utf8Length(text.substr(pos, size)).has_value()) {
            ++size;
        }
        if (size > 4 || pos + size > text.size()) {
            out += "\xEF\xBF\xBD";
            ++pos;
            continue;
        }
        const std::string_view character = text.substr(pos, size);
        pos += size;
        const auto c = static_cast<unsigned char>(character[0]);
        if (c == '"') {
            out += "\\\"";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20) {
            AppendEscape(out, c);
        } else {
            out += character;
        }
    }
    out += '"';
    return out;
}

}  // namespace tertulia
