#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "service/sql_database.h"

namespace tertulia {

struct CompanyFront {
    std::string name;  // UTF-8
    bool attended = false;
};

// The companies with their passwords, their options and the sites that may frame their visitor
// page. Passwords are kept as PBKDF2 of their digest text with a random salt.
class Companies {
  public:
    explicit Companies(SqlDatabase& database) : database_(database) {}

    // The id of the company with this code, within another unit's transaction.
    static std::optional<std::int64_t> IdOf(SqlConnection& db, const std::string& code);

    bool HasCompanies();
    // False when a company with this code exists already.
    bool AddCompany(const std::string& code, const std::string& digestText);
    // False when there is no such company. Ends every session of the company.
    bool SetPassword(const std::string& code, const std::string& digestText);
    // Removes the company with its sessions, conversations and lines; false when there is none.
    // Requests adding to the company meanwhile finish first or find it gone.
    bool RemoveCompany(const std::string& code);

    // The company option "reparto": true for "uno". Switching to "todos" forgets every owner.
    // False when there is no such company.
    bool SetOneConsole(const std::string& code, bool oneConsole);
    // The company option "nombre", the name its visitors see; empty: its code. False when there
    // is no such company.
    bool SetName(const std::string& code, const std::string& name);
    // What a company's visitors are told of it: its name and whether one of its operators is
    // there (a session of it asked for anything in the last `presentSeconds`); nothing when
    // there is no such company.
    std::optional<CompanyFront> Front(const std::string& code, std::int64_t now,
                                      std::int64_t presentSeconds);

    // The company's options as name=value lines; nothing when there is no such company.
    std::optional<std::vector<std::string>> CompanyOptions(const std::string& code);

    // The web origins ("https://shop.example") whose pages may show the company's visitor page
    // in a frame. AllowSite and DisallowSite are false when there is no such company.
    bool AllowSite(const std::string& code, const std::string& origin);
    bool DisallowSite(const std::string& code, const std::string& origin);
    std::vector<std::string> AllowedSites(const std::string& code);

  private:
    SqlDatabase& database_;
};

}  // namespace tertulia
