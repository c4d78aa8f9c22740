#include "protocol/reply_fields.h"

namespace tertulia {

namespace {

// Position of the separator's first occurrence, or npos; an empty separator is never found.
std::size_t Find(std::string_view texto, std::string_view separador) {
    if (separador.empty()) return std::string_view::npos;
    return texto.find(separador);
}

}  // namespace

std::string TextoAntes(std::string_view texto, std::string_view separador, bool conSeparador) {
    const std::size_t p = Find(texto, separador);
    if (p == std::string_view::npos) return std::string(texto);
    return std::string(texto.substr(0, conSeparador ? p + separador.size() : p));
}

std::string TextoDespues(std::string_view texto, std::string_view separador, bool conSeparador) {
    const std::size_t p = Find(texto, separador);
    if (p == std::string_view::npos) return {};
    return std::string(texto.substr(conSeparador ? p : p + separador.size()));
}

void RecortarHasta(std::string& texto, std::string_view separador, bool quitarSeparador) {
    const std::size_t p = Find(texto, separador);
    if (p == std::string::npos) {
        texto.clear();
        return;
    }
    texto.erase(0, quitarSeparador ? p + separador.size() : p);
}

void ExtraerCampo(std::string& texto, std::string_view separador, std::string& campo) {
    const std::size_t p = Find(texto, separador);
    if (p == std::string::npos) {
        campo = std::move(texto);
        texto.clear();
        return;
    }
    campo.assign(texto, 0, p);
    texto.erase(0, p + separador.size());
}

}  // namespace tertulia
