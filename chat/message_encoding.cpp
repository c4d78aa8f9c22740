#include "chat/message_encoding.h"

#include <array>

namespace tertulia {

namespace {

enum class Treatment : unsigned char { Drop, Literal, Escape };

constexpr std::array<Treatment, 256> MakeTreatments() {
    std::array<Treatment, 256> table{};
    for (char c : CaracteresPermitidos) table[static_cast<unsigned char>(c)] = Treatment::Escape;
    for (int code = 0x80; code <= 0xFF; ++code) {
        if (IsWindows1252LetterOrEuro(static_cast<unsigned char>(code))) {
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

}  // namespace tertulia
