#include "service/company_setup.h"

#include <stdexcept>

#include "http/md5.h"
#include "service/charset.h"

namespace tertulia {

void RegisterCompany(Storage& storage, const std::string& code, const std::string& password) {
    const std::string bytes = Windows1252FromUtf8(password);
    if (!Utf8Length(password) || Utf8FromWindows1252(bytes) != password) {
        throw std::runtime_error("la contraseña tiene caracteres que la consola no puede escribir");
    }
    if (!storage.AddCompany(code, Md5TextOfString(bytes))) {
        throw std::runtime_error("ya existe una empresa con el código «" + code + "»");
    }
}

bool EnsureDemoCompany(Storage& storage) {
    if (storage.HasCompanies()) return false;
    RegisterCompany(storage, "demo", "demo");
    return true;
}

}  // namespace tertulia
