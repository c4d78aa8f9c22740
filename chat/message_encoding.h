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

// Every character of Windows-1252 above 127 that it assigns (all but 81, 8D, 8F, 90 and 9D,
// which it leaves undefined). They are sent escaped as well, so that the operator's ¡, «, €,
// accented letters and no-break space reach the visitor; Ñ, ñ and ¿ are also permitted above.
inline constexpr bool IsPrintableWindows1252Above127(unsigned char code) {
    switch (code) {
        case 0x81:
        case 0x8D:
        case 0x8F:
        case 0x90:
        case 0x9D:
            return false;
        default:
            return code >= 0x80;
    }
}

// The line as the value of the send request's "mensaje" parameter: letters and digits as they
// are, other permitted characters and those of IsPrintableWindows1252Above127 as "%" and two
// upper-case hexadecimal digits, everything else dropped.
std::string CodificarMensaje(std::string_view texto);

// The characters that CodificarMensaje drops from `texto`, each once, in the order of their
// first appearance.
std::string CaracteresNoEnviados(std::string_view texto);

// What the operator is told of a line that lost characters, before the characters' names.
inline constexpr std::string_view kAvisoNoEnviados = "No se enviaron los caracteres: ";

// The dropped characters as the operator reads them, separated by a space: each printable one
// as itself, and control characters, which show nothing, once as "(caracteres de control)".
std::string NombresNoEnviados(std::string_view noEnviados);

// The sentence that names what a line lost ("No se enviaron los caracteres: ' ;"), or the
// empty text when it lost nothing.
std::string AvisoNoEnviados(std::string_view texto);

}  // namespace tertulia
