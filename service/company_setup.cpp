#include "service/company_setup.h"

#include <algorithm>
#include <stdexcept>

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

bool EnsureDemoCompany(Companies& companies) {
    // The demo password is shorter than any other may be: it only ever serves a demonstration.
    return companies.AddCompany("demo", Md5TextOfString("demo"));
}

}  // namespace tertulia
