#include "service/company_setup.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "base/md5.h"
#include "service/charset.h"

namespace tertulia {

namespace {

// The digest text that the console sends for this password.
std::string ConsoleDigest(const std::string& password) {
    const auto length = Utf8Length(password);
    const std::string bytes = Windows1252FromUtf8(password);
    if (!length || Utf8FromWindows1252(bytes) != password) {
        throw std::runtime_error("la contraseña tiene caracteres que la consola no puede escribir");
    }
    if (*length < kMinPasswordLength) {
        throw std::runtime_error("la contraseña debe tener al menos " +
                                 std::to_string(kMinPasswordLength) + " caracteres");
    }
    // A control character cannot be typed into the console's field; blanks alone guess easily.
    const auto control = [](unsigned char c) { return c < 0x20 || c == 0x7F; };
    if (std::any_of(bytes.begin(), bytes.end(), control)) {
        throw std::runtime_error("la contraseña no puede tener caracteres de control");
    }
    if (std::all_of(bytes.begin(), bytes.end(),
                    [](unsigned char c) { return c == ' ' || c == 0xA0; })) {
        throw std::runtime_error("la contraseña debe tener algún carácter que no sea un espacio");
    }
    return Md5TextOfString(bytes);
}

}  // namespace

void RegisterCompany(Companies& companies, const std::string& code, const std::string& password) {
    if (!companies.AddCompany(code, ConsoleDigest(password))) {
        throw std::runtime_error("ya existe una empresa con el código «" + code + "»");
    }
}

void ChangePassword(Companies& companies, const std::string& code, const std::string& password) {
    if (!companies.SetPassword(code, ConsoleDigest(password))) {
        throw std::runtime_error("no existe ninguna empresa con el código «" + code + "»");
    }
}

std::string ReadyAnswerShortcut(const std::string& shortcut) {
    constexpr std::size_t kMaxShortcut = 30;
    std::string lower;
    for (const char c : shortcut) {
        const bool allowed =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
        if (!allowed) break;
        lower += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    if (lower.empty() || lower.size() != shortcut.size() || lower.size() > kMaxShortcut) {
        throw std::runtime_error("el atajo admite de 1 a 30 letras sin tilde, dígitos y «-», no «" +
                                 shortcut + "»");
    }
    return lower;
}

std::string ReadyAnswerText(const std::string& input) {
    if (!Utf8Length(input)) throw std::runtime_error("la respuesta no es texto UTF-8 válido");
    std::vector<std::string> lines{""};
    for (std::size_t i = 0; i < input.size(); ++i) {
        if (input[i] == '\r' || input[i] == '\n') {
            if (input[i] == '\r' && i + 1 < input.size() && input[i + 1] == '\n') ++i;
            lines.emplace_back();
        } else {
            lines.back() += input[i];
        }
    }
    // Blank lines around it are what an editor or "echo" leaves.
    std::size_t first = 0;
    while (first < lines.size() && lines[first].empty()) ++first;
    while (lines.size() > first && lines.back().empty()) lines.pop_back();
    std::string text;
    for (std::size_t i = first; i < lines.size(); ++i) {
        if (HasControlCharacter(lines[i])) {
            throw std::runtime_error("la respuesta contiene caracteres de control");
        }
        if (i > first) text += '\n';
        text += StorableLine(lines[i]);
    }
    if (text.empty()) throw std::runtime_error("la respuesta está vacía");
    if (*Utf8Length(text) > kMaxReadyAnswer) {
        throw std::runtime_error("la respuesta es demasiado larga (más de " +
                                 std::to_string(kMaxReadyAnswer) + " caracteres)");
    }
    return text;
}

void AddReadyAnswer(ReadyAnswers& answers, const std::string& code, const std::string& shortcut,
                    const std::string& text) {
    if (!answers.Set(code, ReadyAnswerShortcut(shortcut), ReadyAnswerText(text))) {
        throw std::runtime_error("no existe ninguna empresa con el código «" + code + "»");
    }
}

void RemoveReadyAnswer(ReadyAnswers& answers, const std::string& code,
                       const std::string& shortcut) {
    const std::string key = ReadyAnswerShortcut(shortcut);
    switch (answers.Remove(code, key)) {
        case AnswerRemoval::Removed:
            return;
        case AnswerRemoval::NoCompany:
            throw std::runtime_error("no existe ninguna empresa con el código «" + code + "»");
        case AnswerRemoval::NoAnswer:
            break;
    }
    throw std::runtime_error("la empresa «" + code + "» no tiene ninguna respuesta con el atajo «" +
                             key + "»");
}

bool EnsureDemoCompany(Companies& companies) {
    // The demo password is shorter than any other may be: it only ever serves a demonstration.
    return companies.AddCompany("demo", Md5TextOfString("demo"));
}

}  // namespace tertulia
