#pragma once

#include <string>
#include <string_view>

namespace tertulia {

// Helpers that take the service's replies apart at single-character separators. A separator is
// found at its first occurrence, letter case included; an empty separator or an empty text is
// never found.

// The text before the separator (followed by the separator when `conSeparador`); the whole
// text when the separator is missing.
std::string TextoAntes(std::string_view texto, std::string_view separador, bool conSeparador);

// The text after the separator (from the separator on when `conSeparador`); empty when the
// separator is missing.
std::string TextoDespues(std::string_view texto, std::string_view separador, bool conSeparador);

// Cuts `texto` to what follows the separator (the separator kept unless `quitarSeparador`);
// empties it when the separator is missing.
void RecortarHasta(std::string& texto, std::string_view separador, bool quitarSeparador);

// Moves the text before the separator into `campo` and drops it and the separator from
// `texto`; without a separator `campo` takes the whole text and `texto` becomes empty.
void ExtraerCampo(std::string& texto, std::string_view separador, std::string& campo);

}  // namespace tertulia
