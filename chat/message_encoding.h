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

// The line as the value of the send request's "mensaje" parameter: letters and digits as they
// are, other permitted characters as "%" and two upper-case hexadecimal digits, everything else
// dropped.
std::string CodificarMensaje(std::string_view texto);

}  // namespace tertulia
