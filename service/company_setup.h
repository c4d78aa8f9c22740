#pragma once

#include <string>

#include "service/storage.h"

namespace tertulia {

// Registers a company whose chat password is `password`, typed as UTF-8 on a command line. The
// console hashes the Windows-1252 bytes of what the operator types, so the password must be
// text that Windows-1252 holds. Throws std::runtime_error with a Spanish message otherwise, or
// when the code is taken.
void RegisterCompany(Storage& storage, const std::string& code, const std::string& password);

// On a database without companies, registers "demo" with the password "demo"; true when it did.
bool EnsureDemoCompany(Storage& storage);

}  // namespace tertulia
