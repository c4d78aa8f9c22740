#include "service/companies.h"

#include "service/change_feed.h"
#include "service/secrets.h"

namespace tertulia {

std::optional<std::int64_t> Companies::IdOf(SqlConnection& db, const std::string& code) {
    const SqlRows company = db.Run("SELECT id FROM companies WHERE code = ?", {code});
    if (company.empty()) return std::nullopt;
    return company.Int(0, 0);
}

bool Companies::HasCompanies() {
    return database_.Read(
        [](SqlConnection& db) { return !db.Run("SELECT id FROM companies LIMIT 1").empty(); });
}

bool Companies::AddCompany(const std::string& code, const std::string& digestText) {
    const PasswordHash hash = HashDigestText(digestText);
    return database_.Write([&](SqlConnection& db) {
        // The folded index refuses a twin atomically; where older twins keep it from being
        // made, the look-up below still does.
        if (!db.Run("SELECT id FROM companies WHERE lower(code) = lower(?)",
                    {std::string_view(code)})
                 .empty()) {
            return false;
        }
        return !db.Run(
                      "INSERT INTO companies (code, salt, iterations, hash) VALUES (?, ?, ?, ?) "
                      "ON CONFLICT DO NOTHING RETURNING id",
                      {std::string_view(code), std::string_view(hash.salt),
                       std::int64_t{hash.iterations}, std::string_view(hash.hash)})
                    .empty();
    });
}

bool Companies::SetPassword(const std::string& code, const std::string& digestText) {
    const PasswordHash hash = HashDigestText(digestText);
    return database_.Write([&](SqlConnection& db) {
        const SqlRows changed = db.Run(
            "UPDATE companies SET salt = ?, iterations = ?, hash = ? WHERE code = ? "
            "RETURNING id",
            {std::string_view(hash.salt), std::int64_t{hash.iterations},
             std::string_view(hash.hash), std::string_view(code)});
        if (changed.empty()) return false;
        db.Run("DELETE FROM operator_sessions WHERE company_id = ?", {changed.Int(0, 0)});
        return true;
    });
}

bool Companies::RemoveCompany(const std::string& code) {
    return database_.Write([&](SqlConnection& db) {
        // Other services add to the company while it goes. Giving its row a code no company
        // can have takes the row's strongest lock: requests adding a conversation, a session
        // or a site to it finish first, and later ones find it gone. Touching its
        // conversations then waits for the lines being added to them.
        const SqlRows company =
            db.Run("UPDATE companies SET code = '#' || id WHERE code = ? RETURNING id", {code});
        if (company.empty()) return false;
        const std::int64_t id = company.Int(0, 0);
        const SqlRows conversations = db.Run(
            "UPDATE conversations SET open = open WHERE company_id = ? RETURNING id, open", {id});
        for (std::size_t row = 0; row < conversations.size(); ++row) {
            if (conversations.Int(row, 1) != 0) AnnounceChange(db, id, conversations.Int(row, 0));
        }
        db.Run(
            "DELETE FROM messages WHERE conversation_id IN "
            "(SELECT id FROM conversations WHERE company_id = ?)",
            {id});
        db.Run("DELETE FROM conversations WHERE company_id = ?", {id});
        db.Run("DELETE FROM operator_sessions WHERE company_id = ?", {id});
        db.Run("DELETE FROM allowed_sites WHERE company_id = ?", {id});
        db.Run("DELETE FROM ready_answers WHERE company_id = ?", {id});
        db.Run("DELETE FROM known_addresses WHERE company_id = ?", {id});
        db.Run("DELETE FROM companies WHERE id = ?", {id});
        return true;
    });
}

bool Companies::SetOneConsole(const std::string& code, bool oneConsole) {
    return database_.Write([&](SqlConnection& db) {
        const SqlRows company =
            db.Run("UPDATE companies SET reparto = ? WHERE code = ? RETURNING id",
                   {std::string_view(oneConsole ? "uno" : "todos"), std::string_view(code)});
        if (company.empty()) return false;
        if (!oneConsole) {
            db.Run("UPDATE conversations SET owner_session = NULL WHERE company_id = ?",
                   {company.Int(0, 0)});
        }
        return true;
    });
}

bool Companies::SetName(const std::string& code, const std::string& name) {
    return database_.Write([&](SqlConnection& db) {
        const std::string_view value = name;
        return !db.Run(
                      "UPDATE companies SET name = CASE WHEN ? = '' THEN NULL ELSE ? END "
                      "WHERE code = ? RETURNING id",
                      {value, value, std::string_view(code)})
                    .empty();
    });
}

std::optional<CompanyFront> Companies::Front(const std::string& code, std::int64_t now,
                                             std::int64_t presentSeconds) {
    const SqlRows rows = database_.Read([&](SqlConnection& db) {
        return db.Run(
            "SELECT COALESCE(c.name, c.code), CASE WHEN EXISTS (SELECT 1 FROM operator_sessions s "
            "WHERE s.company_id = c.id AND s.last_seen >= ?) THEN 1 ELSE 0 END "
            "FROM companies c WHERE c.code = ?",
            {now - presentSeconds, std::string_view(code)});
    });
    if (rows.empty()) return std::nullopt;
    return CompanyFront{rows.Text(0, 0), rows.Int(0, 1) != 0};
}

std::optional<std::vector<std::string>> Companies::CompanyOptions(const std::string& code) {
    const SqlRows rows = database_.Read([&](SqlConnection& db) {
        return db.Run("SELECT reparto, COALESCE(name, '') FROM companies WHERE code = ?", {code});
    });
    if (rows.empty()) return std::nullopt;
    std::vector<std::string> options{"reparto=" + rows.Text(0, 0)};
    // A company without a name of its own shows its code, as ever.
    if (!rows.Text(0, 1).empty()) options.push_back("nombre=" + rows.Text(0, 1));
    return options;
}

bool Companies::AllowSite(const std::string& code, const std::string& origin) {
    return database_.Write([&](SqlConnection& db) {
        const auto id = IdOf(db, code);
        if (!id) return false;
        db.Run(
            "INSERT INTO allowed_sites (company_id, origin) VALUES (?, ?) ON CONFLICT DO NOTHING",
            {*id, std::string_view(origin)});
        return true;
    });
}

bool Companies::DisallowSite(const std::string& code, const std::string& origin) {
    return database_.Write([&](SqlConnection& db) {
        const auto id = IdOf(db, code);
        if (!id) return false;
        db.Run("DELETE FROM allowed_sites WHERE company_id = ? AND origin = ?",
               {*id, std::string_view(origin)});
        return true;
    });
}

std::vector<std::string> Companies::AllowedSites(const std::string& code) {
    const SqlRows rows = database_.Read([&](SqlConnection& db) {
        return db.Run(
            "SELECT s.origin FROM allowed_sites s JOIN companies c ON c.id = s.company_id "
            "WHERE c.code = ? ORDER BY s.origin",
            {code});
    });
    std::vector<std::string> result;
    for (std::size_t row = 0; row < rows.size(); ++row) result.push_back(rows.Text(row, 0));
    return result;
}

}  // namespace tertulia
