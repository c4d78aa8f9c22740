#include "service/charset.h"

#include <cstdint>

#include "text/windows_1252.h"

namespace tertulia {

namespace {

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Decodes one character at `pos` and advances past it; nothing when the bytes there are not
// well-formed UTF-8.
std::optional<char32_t> NextCodePoint(std::string_view text, std::size_t& pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    std::size_t extra;
    char32_t c;
    char32_t minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1, c = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2, c = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3, c = lead & 0x07, minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    if (text.size() - pos <= extra) return std::nullopt;
    for (std::size_t i = 1; i <= extra; ++i) {
        const unsigned char next = byte(pos + i);
        if ((next & 0xC0) != 0x80) return std::nullopt;
        c = (c << 6) | (next & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
    pos += extra + 1;
    return c;
}

}  // namespace

std::string Utf8FromWindows1252(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        AppendUtf8(out, UnicodeOfWindows1252(static_cast<unsigned char>(ch)));
    }
    return out;
}

std::string Utf8LineFromWindows1252(std::string_view bytes) {
    std::string defined;
    defined.reserve(bytes.size());
    for (const char ch : bytes) {
        const char32_t c = UnicodeOfWindows1252(static_cast<unsigned char>(ch));
        if (c < 0x80 || c >= 0xA0) defined += ch;
    }
    return StorableLine(Utf8FromWindows1252(defined));
}

std::string StorableLine(std::string_view text) {
    constexpr std::string_view kReplacement = "\uFFFD";
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t start = pos;
        const auto c = NextCodePoint(text, pos);
        if (!c) {
            out += text[pos++];
            continue;
        }
        if (*c >= 0x200B && *c <= 0x200F) continue;
        if ((*c >= 0x80 && *c < 0xA0) || (*c >= 0x202A && *c <= 0x202E) ||
            (*c >= 0x2066 && *c <= 0x2069) || *c == 0x2028 || *c == 0x2029) {
            out += kReplacement;
        } else {
            out += text.substr(start, pos - start);
        }
    }
    return out;
}

std::string Windows1252FromUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto c = NextCodePoint(text, pos);
        if (!c) {
            out += '?';
            ++pos;
            continue;
        }
        const auto byte = Windows1252Of(*c);
        out += byte ? static_cast<char>(*byte) : '?';
    }
    return out;
}

std::optional<std::size_t> Utf8Length(std::string_view text) {
    std::size_t count = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (!NextCodePoint(text, pos)) return std::nullopt;
        ++count;
    }
    return count;
}

bool HasControlCharacter(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto c = NextCodePoint(text, pos);
        if (!c) {
            ++pos;
            continue;
        }
        if (*c < 0x20 || (*c >= 0x7F && *c < 0xA0)) return true;
    }
    return false;
}

}  // namespace tertulia
