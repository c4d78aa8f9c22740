#pragma once

#include <string>
#include <string_view>

namespace tertulia {

// The characters that a sent line may hold, in their stored order: A-N, Ñ, O-Z, a-n, ñ, o-z,
// 31 punctuation characters, the digits and the space.
inline constexpr std::string_view CaracteresPermitidos =
    "ABCDEFGHIJKLMN\xD1OPQRSTUVWXYZ"
    "abcdefghijklmn\xF1opqrstuvwxyz"
    "~`!@#$%^&*()-_+=|}{\":\xBF?><,./[]\\"
    "1234567890 ";

// The permitted characters that travel as they are; every other permitted one is escaped.
// "N" and "n" stand twice, where the permitted list has Ñ and ñ.
inline constexpr std::string_view CaracteresLiterales =
    "1234567890ABCDEFGHIJKLMNNOPQRSTUVWXYZabcdefghijklmnnopqrstuvwxyz";

// The letters of Windows-1252 beyond ASCII (192-255 other than the multiplication and division
// signs, and the Latin letters among 128-159) and the euro sign. They are sent escaped as well,
// so that the operator's accented letters reach the visitor; Ñ and ñ are also permitted above.
inline constexpr bool IsWindows1252LetterOrEuro(unsigned char code) {
    switch (code) {
        case 0x80:  // €
        case 0x8A:  // Š
        case 0x8C:  // Œ
        case 0x8E:  // Ž
        case 0x9A:  // š
        case 0x9C:  // œ
        case 0x9E:  // ž
        case 0x9F:  // Ÿ
            return true;
        case 0xD7:  // ×
        case 0xF7:  // ÷
            return false;
        default:
            return code >= 0xC0;
    }
}

// The line as the value of the send request's "mensaje" parameter: letters and digits as they
// are, other permitted characters and the letters of IsWindows1252LetterOrEuro as "%" and two
// upper-case hexadecimal digits, everything else dropped.
std::string CodificarMensaje(std::string_view texto);

}  // namespace tertulia
