#include "chat/message_encoding.h"

#include <array>

namespace tertulia {

namespace {

enum class Treatment : unsigned char { Drop, Literal, Escape };

constexpr std::array<Treatment, 256> MakeTreatments() {
    std::array<Treatment, 256> table{};
    for (char c : CaracteresPermitidos) table[static_cast<unsigned char>(c)] = Treatment::Escape;
    for (int code = 0x80; code <= 0xFF; ++code) {
        if (IsPrintableWindows1252Above127(static_cast<unsigned char>(code))) {
            table[code] = Treatment::Escape;
        }
    }
    for (char c : CaracteresLiterales) {
        auto& entry = table[static_cast<unsigned char>(c)];
        if (entry == Treatment::Escape) entry = Treatment::Literal;
    }
    return table;
}

constexpr std::array<Treatment, 256> kTreatments = MakeTreatments();

// Below 32, 127 and the codes that Windows-1252 leaves undefined, which stand for controls.
bool IsControl(unsigned char code) {
    return code < 32 || code == 127 || (code >= 0x80 && !IsPrintableWindows1252Above127(code));
}

}  // namespace

std::string CodificarMensaje(std::string_view texto) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(texto.size());
    for (char c : texto) {
        const auto code = static_cast<unsigned char>(c);
        switch (kTreatments[code]) {
            case Treatment::Drop:
                break;
            case Treatment::Literal:
                result += c;
                break;
            case Treatment::Escape:
                result += '%';
                result += kHex[code >> 4];
                result += kHex[code & 0x0F];
                break;
        }
    }
    return result;
}

std::string CaracteresNoEnviados(std::string_view texto) {
    std::array<bool, 256> seen{};
    std::string dropped;
    for (char c : texto) {
        const auto code = static_cast<unsigned char>(c);
        if (kTreatments[code] != Treatment::Drop || seen[code]) continue;
        seen[code] = true;
        dropped += c;
    }
    return dropped;
}

std::string NombresNoEnviados(std::string_view noEnviados) {
    std::string names;
    bool control = false;
    for (char c : noEnviados) {
        if (IsControl(static_cast<unsigned char>(c))) {
            control = true;
            continue;
        }
        if (!names.empty()) names += ' ';
        names += c;
    }
    if (control) names += names.empty() ? "(caracteres de control)" : " (caracteres de control)";
    return names;
}

std::string AvisoNoEnviados(std::string_view texto) {
    const std::string dropped = CaracteresNoEnviados(texto);
    if (dropped.empty()) return {};
    return std::string(kAvisoNoEnviados) + NombresNoEnviados(dropped);
}

}  // namespace tertulia
