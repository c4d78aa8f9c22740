#include "service/form_fields.h"

#include "service/bad_request.h"

namespace tertulia {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string Decode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            const int high = i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
            const int low = high >= 0 ? HexValue(text[i + 2]) : -1;
            if (low < 0) throw BadRequest("Secuencia de escape «%» mal formada.");
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

// A field name as an error message may quote it: short and printable ASCII only.
std::string Shown(const std::string& name) {
    std::string out;
    for (const char c : name.substr(0, 40)) out += c > ' ' && c < 127 ? c : '?';
    return out;
}

}  // namespace

FormFields FormFields::Parse(std::string_view encoded) {
    FormFields result;
    while (!encoded.empty()) {
        const std::size_t amp = encoded.find('&');
        const std::string_view pair = encoded.substr(0, amp);
        encoded = amp == std::string_view::npos ? std::string_view{} : encoded.substr(amp + 1);
        if (pair.empty()) continue;
        const std::size_t eq = pair.find('=');
        std::string name = Decode(pair.substr(0, eq));
        std::string value =
            eq == std::string_view::npos ? std::string{} : Decode(pair.substr(eq + 1));
        if (result.fields_.contains(name)) {
            throw BadRequest("El parámetro «" + Shown(name) + "» está repetido.");
        }
        result.fields_.emplace(std::move(name), std::move(value));
    }
    return result;
}

std::optional<std::string> FormFields::Find(const std::string& name) const {
    const auto it = fields_.find(name);
    if (it == fields_.end()) return std::nullopt;
    return it->second;
}

const std::string& FormFields::Get(const std::string& name) const {
    const auto it = fields_.find(name);
    if (it == fields_.end()) throw BadRequest("Falta el parámetro «" + name + "».");
    return it->second;
}

std::string_view QueryOfTarget(std::string_view target) {
    const std::size_t question = target.find('?');
    return question == std::string_view::npos ? std::string_view{} : target.substr(question + 1);
}

}  // namespace tertulia
