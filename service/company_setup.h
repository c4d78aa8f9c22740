#pragma once

#include <string>

#include "service/companies.h"

namespace tertulia {

// A company's chat password has at least this many characters.
inline constexpr std::size_t kMinPasswordLength = 8;

// Registers a company whose chat password is `password`, typed as UTF-8. The console hashes the
// Windows-1252 bytes of what the operator types, so the password must be text that
// Windows-1252 holds, of at least kMinPasswordLength characters. Throws std::runtime_error
// with a Spanish message otherwise, or when the code is taken.
void RegisterCompany(Companies& companies, const std::string& code, const std::string& password);

// Gives the company a new password under the same rules and ends its sessions. Throws
// std::runtime_error with a Spanish message when there is no such company.
void ChangePassword(Companies& companies, const std::string& code, const std::string& password);

// Registers "demo" with the password "demo" unless it exists; true when it did. Several
// services starting at once on one database agree on a single demo company.
bool EnsureDemoCompany(Companies& companies);

}  // namespace tertulia
