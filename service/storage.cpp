#include "service/storage.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <stdexcept>

#include "service/postgres_database.h"
#include "service/rate_limits.h"
#include "service/secrets.h"
#include "service/service_log.h"
#include "service/sqlite_database.h"

namespace tertulia {

namespace {

// The session's last-use time is written at most this often, so that polls stay reads; a
// session therefore lives at least its full lifetime after its last request.
constexpr std::int64_t kTouchInterval = 30;

std::int64_t SystemClock() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::int64_t Count(std::size_t value) {
    return static_cast<std::int64_t>(value);
}

ConversationInfo ConversationFrom(const SqlRows& rows, std::size_t row) {
    return {static_cast<std::int32_t>(rows.Int(row, 0)), rows.Text(row, 1), rows.Int(row, 2) != 0,
            rows.Int(row, 3), rows.Text(row, 4)};
}

// Since when an owner must have asked, and its session have been used, to still have its
// conversations.
struct OwnerTimes {
    std::int64_t asked = 0;
    std::int64_t sessionUsed = 0;
};

// The owner of conversation "c" while it has one, else ''; takes the two OwnerTimes.
constexpr const char* kOwnerColumn =
    "CASE WHEN c.owner_session IS NOT NULL AND c.owner_seen >= ? AND EXISTS (SELECT 1 FROM "
    "operator_sessions s WHERE s.id_hash = c.owner_session AND s.last_seen >= ?) "
    "THEN c.owner_session ELSE '' END";

// The condition, on a statement's row of "conversations", that it belongs to no live session
// but the one given; takes that session's id hash and the two OwnerTimes. Part of every write
// that depends on the owner, so that the owner a statement finds is the one it acts on,
// whatever another session or service does meanwhile.
constexpr const char* kNoOtherOwner =
    "(conversations.owner_session IS NULL OR conversations.owner_session = ? OR "
    "conversations.owner_seen < ? OR NOT EXISTS (SELECT 1 FROM operator_sessions s WHERE "
    "s.id_hash = conversations.owner_session AND s.last_seen >= ?))";

// Whose conversation an operator's write may touch: any, or only one that belongs to no live
// session but `idHash`.
struct OwnerCheck {
    bool checked = false;
    std::string idHash;
    OwnerTimes times;
};

OwnerTimes TimesAt(std::int64_t now, std::int64_t ownerSilence) {
    return {now - ownerSilence, now - Storage::kSessionLifetime - kTouchInterval};
}

// What an operator's write asks of the owner: nothing of a write made on no session's behalf, or
// in a company whose every console answers every conversation.
OwnerCheck CheckFor(const OperatorSession* asker, OwnerTimes times) {
    if (asker == nullptr || !asker->oneConsole) return {};
    return {true, asker->idHash, times};
}

std::optional<ConversationInfo> FirstConversation(const SqlRows& rows) {
    if (rows.empty()) return std::nullopt;
    return ConversationFrom(rows, 0);
}

std::optional<ConversationInfo> FindCompanyConversation(SqlConnection& db, std::int64_t companyId,
                                                        std::int32_t conversationId,
                                                        OwnerTimes times) {
    return FirstConversation(
        db.Run(std::string("SELECT c.id, c.visitor_name, c.open, c.visitor_lines, ") +
                   kOwnerColumn + " FROM conversations c WHERE c.id = ? AND c.company_id = ?",
               {times.asked, times.sessionUsed, std::int64_t{conversationId}, companyId}));
}

std::optional<ConversationInfo> FindVisitorConversation(SqlConnection& db,
                                                        std::int32_t conversationId,
                                                        const std::string& token) {
    const std::string tokenHash = Sha256Hex(token);
    return FirstConversation(
        db.Run("SELECT id, visitor_name, open, visitor_lines, '' FROM conversations "
               "WHERE id = ? AND token_hash = ?",
               {std::int64_t{conversationId}, std::string_view(tokenHash)}));
}

// Tells the services on the database, at the commit, that the conversation changed.
void Announce(SqlConnection& db, std::int64_t companyId, std::int64_t conversationId) {
    db.Announce(std::to_string(companyId) + ":" + std::to_string(conversationId));
}

// Counts the line into its conversation, within the caps and its owner's claim, and stores it.
// The counting is one conditional update of the conversation's row, so that services sharing a
// database never let a conversation past its caps, or a line into another session's
// conversation, between them. A visitor's line also marks its visitor as there.
LineResult InsertLine(SqlConnection& db, std::optional<ConversationInfo> conversation,
                      bool fromOperator, const std::string& text, const ConversationCaps& caps,
                      const OwnerCheck& owner, std::int64_t now) {
    if (!conversation) return LineResult::NotFound;
    if (!conversation->open) return LineResult::Closed;
    const std::int64_t id = conversation->id;
    const std::int64_t bytes = Count(text.size());
    const std::int64_t checked = owner.checked ? 1 : 0;
    const SqlRows counted = db.Run(
        std::string(
            "UPDATE conversations SET line_count = line_count + 1, byte_count = byte_count + ?, "
            "visitor_lines = visitor_lines + ?, "
            "visitor_seen = CASE WHEN ? = 1 THEN ? ELSE visitor_seen END "
            "WHERE id = ? AND open = 1 AND (? = 0 OR line_count < ?) "
            "AND (? = 0 OR byte_count + ? <= ?) AND (? = 0 OR ") +
            kNoOtherOwner + ") RETURNING company_id",
        {bytes, std::int64_t{fromOperator ? 0 : 1}, std::int64_t{fromOperator ? 0 : 1}, now, id,
         std::int64_t{caps.lines}, std::int64_t{caps.lines}, Count(caps.bytes), bytes,
         Count(caps.bytes), checked, std::string_view(owner.idHash), owner.times.asked,
         owner.times.sessionUsed});
    if (counted.empty()) {
        const SqlRows state =
            db.Run(std::string("SELECT open, CASE WHEN ? = 0 OR ") + kNoOtherOwner +
                       " THEN 1 ELSE 0 END FROM conversations WHERE id = ?",
                   {checked, std::string_view(owner.idHash), owner.times.asked,
                    owner.times.sessionUsed, id});
        // Gone since it was found: removed with its company.
        if (state.empty()) return LineResult::NotFound;
        if (state.Int(0, 0) == 0) return LineResult::Closed;
        return state.Int(0, 1) == 0 ? LineResult::Owned : LineResult::Full;
    }
    db.Run(
        "INSERT INTO messages (conversation_id, from_operator, text, sent_at) "
        "VALUES (?, ?, ?, ?)",
        {id, std::int64_t{fromOperator ? 1 : 0}, std::string_view(text), now});
    Announce(db, counted.Int(0, 0), id);
    return LineResult::Stored;
}

std::optional<std::int64_t> CompanyId(SqlConnection& db, const std::string& code) {
    const SqlRows company = db.Run("SELECT id FROM companies WHERE code = ?", {code});
    if (company.empty()) return std::nullopt;
    return company.Int(0, 0);
}

}  // namespace

bool IsPostgresUri(const std::string& location) {
    return location.starts_with("postgresql://") || location.starts_with("postgres://");
}

Storage::Storage(std::unique_ptr<SqlDatabase> database, Clock clock)
    : clock_(clock ? std::move(clock) : Clock(SystemClock)), database_(std::move(database)) {
    try {
        UpgradeSchema();
    } catch (const std::exception& failure) {
        throw std::runtime_error("no se puede escribir en la base de datos " +
                                 database_->Description() + ": " + failure.what());
    }
}

std::unique_ptr<Storage> Storage::Open(const std::string& location, Clock clock,
                                       std::chrono::milliseconds timeout) {
    std::unique_ptr<SqlDatabase> database;
    if (IsPostgresUri(location)) {
        database = std::make_unique<PostgresDatabase>(location, timeout);
    } else {
        try {
            database = std::make_unique<SqliteDatabase>(location, timeout);
        } catch (const std::exception& failure) {
            throw std::runtime_error("no se puede escribir en la base de datos " + location + ": " +
                                     failure.what());
        }
    }
    return std::make_unique<Storage>(std::move(database), std::move(clock));
}

void Storage::UpgradeSchema() {
    // A real write, committed, is the only sure sign that the database takes writes.
    const std::int64_t now = clock_();
    const std::vector<const char*> steps = database_->SchemaSteps();
    database_->Write([&](SqlConnection& db) {
        database_->LockSchema(db);
        db.Execute(
            "CREATE TABLE IF NOT EXISTS service_state (name TEXT PRIMARY KEY, value BIGINT NOT "
            "NULL)");
        const SqlRows version =
            db.Run("SELECT value FROM service_state WHERE name = 'schema_version'");
        const std::int64_t current = version.empty() ? 0 : version.Int(0, 0);
        if (current > Count(steps.size())) {
            throw std::runtime_error("su esquema (versión " + std::to_string(current) +
                                     ") es de una versión posterior del servicio");
        }
        for (auto step = static_cast<std::size_t>(current); step < steps.size(); ++step) {
            db.Execute(steps[step]);
        }
        const char* const set =
            "INSERT INTO service_state (name, value) VALUES (?, ?) "
            "ON CONFLICT (name) DO UPDATE SET value = excluded.value";
        db.Run(set, {std::string_view("schema_version"), Count(steps.size())});
        db.Run(set, {std::string_view("opened"), now});
        FoldCompanyCodes(db);
    });
}

void Storage::FoldCompanyCodes(SqlConnection& db) {
    // Codes are unique whatever their letter case (they are ASCII, which lower() folds on both
    // engines). Codes registered before that rule that differ only in case stay as they are.
    const SqlRows twins = db.Run(
        "SELECT a.code, b.code FROM companies a JOIN companies b "
        "ON lower(a.code) = lower(b.code) AND a.id < b.id ORDER BY a.id, b.id");
    if (twins.empty()) {
        db.Execute(
            "CREATE UNIQUE INDEX IF NOT EXISTS companies_code_folded ON companies (lower(code))");
        return;
    }
    for (std::size_t row = 0; row < twins.size(); ++row) {
        LogLine(LogPriority::Warning,
                "las empresas \xC2\xAB" + twins.Text(row, 0) + "\xC2\xBB y \xC2\xAB" +
                    twins.Text(row, 1) +
                    "\xC2\xBB solo se distinguen por las may\xC3\xBAsculas; se conservan las dos");
    }
}

bool Storage::HasCompanies() {
    return database_->Read(
        [](SqlConnection& db) { return !db.Run("SELECT id FROM companies LIMIT 1").empty(); });
}

void Storage::Ping(std::chrono::milliseconds bound) {
    database_->ReadWithin(bound, [](SqlConnection& db) { db.Run("SELECT 1"); });
}

std::int64_t Storage::WaitingConversations(std::chrono::milliseconds bound) {
    return database_->ReadWithin(bound, [](SqlConnection& db) {
        return db
            .Run("SELECT COUNT(*) FROM conversations WHERE open = 1 AND line_count = visitor_lines")
            .Int(0, 0);
    });
}

bool Storage::AddCompany(const std::string& code, const std::string& digestText) {
    const PasswordHash hash = HashDigestText(digestText);
    return database_->Write([&](SqlConnection& db) {
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

bool Storage::SetPassword(const std::string& code, const std::string& digestText) {
    const PasswordHash hash = HashDigestText(digestText);
    return database_->Write([&](SqlConnection& db) {
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

bool Storage::RemoveCompany(const std::string& code) {
    return database_->Write([&](SqlConnection& db) {
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
            if (conversations.Int(row, 1) != 0) Announce(db, id, conversations.Int(row, 0));
        }
        db.Run(
            "DELETE FROM messages WHERE conversation_id IN "
            "(SELECT id FROM conversations WHERE company_id = ?)",
            {id});
        db.Run("DELETE FROM conversations WHERE company_id = ?", {id});
        db.Run("DELETE FROM operator_sessions WHERE company_id = ?", {id});
        db.Run("DELETE FROM allowed_sites WHERE company_id = ?", {id});
        db.Run("DELETE FROM known_addresses WHERE company_id = ?", {id});
        db.Run("DELETE FROM companies WHERE id = ?", {id});
        return true;
    });
}

std::optional<std::string> Storage::Login(const std::string& code, const std::string& digestText,
                                          const std::string& console) {
    struct Found {
        std::int64_t companyId;
        PasswordHash hash;
    };
    const auto found = database_->Read([&](SqlConnection& db) -> std::optional<Found> {
        const SqlRows row =
            db.Run("SELECT id, salt, iterations, hash FROM companies WHERE code = ?", {code});
        if (row.empty()) return std::nullopt;
        return Found{row.Int(0, 0),
                     {row.Text(0, 1), static_cast<int>(row.Int(0, 2)), row.Text(0, 3)}};
    });
    if (!found || !DigestTextMatches(digestText, found->hash)) return std::nullopt;

    const std::string sessionId = RandomHex(16);
    const std::string idHash = Sha256Hex(sessionId);
    const std::int64_t now = clock_();
    const std::string consoleHash = console.empty() ? "" : Sha256Hex(console);
    database_->Write([&](SqlConnection& db) {
        db.Run(
            "INSERT INTO operator_sessions (id_hash, company_id, last_seen, console) "
            "VALUES (?, ?, ?, ?)",
            {std::string_view(idHash), found->companyId, now, std::string_view(consoleHash)});
        if (consoleHash.empty()) return;
        db.Run(
            "UPDATE conversations SET owner_session = ?, owner_seen = ? "
            "WHERE company_id = ? AND open = 1 AND owner_session IN (SELECT id_hash FROM "
            "operator_sessions WHERE company_id = ? AND console = ? AND id_hash <> ?)",
            {std::string_view(idHash), now, found->companyId, found->companyId,
             std::string_view(consoleHash), std::string_view(idHash)});
        db.Run(
            "DELETE FROM operator_sessions WHERE company_id = ? AND console = ? AND id_hash <> ?",
            {found->companyId, std::string_view(consoleHash), std::string_view(idHash)});
    });
    return sessionId;
}

bool Storage::EndSession(const std::string& code, const std::string& sessionId) {
    const std::string idHash = Sha256Hex(sessionId);
    return database_->Write([&](SqlConnection& db) {
        const SqlRows ended = db.Run(
            "DELETE FROM operator_sessions WHERE id_hash = ? AND company_id IN "
            "(SELECT id FROM companies WHERE code = ?) RETURNING company_id",
            {std::string_view(idHash), std::string_view(code)});
        if (ended.empty()) return false;
        const std::int64_t companyId = ended.Int(0, 0);
        const SqlRows freed = db.Run(
            "UPDATE conversations SET owner_session = NULL "
            "WHERE owner_session = ? AND open = 1 RETURNING id",
            {std::string_view(idHash)});
        for (std::size_t row = 0; row < freed.size(); ++row) {
            Announce(db, companyId, freed.Int(row, 0));
        }
        return true;
    });
}

std::optional<std::int64_t> Storage::SessionCompany(const std::string& code,
                                                    const std::string& sessionId) {
    const auto session = Session(code, sessionId);
    if (!session) return std::nullopt;
    return session->company;
}

std::optional<OperatorSession> Storage::Session(const std::string& code,
                                                const std::string& sessionId) {
    const std::int64_t now = clock_();
    const std::string idHash = Sha256Hex(sessionId);
    const SqlRows found = database_->Read([&](SqlConnection& db) {
        return db.Run(
            "SELECT s.company_id, s.last_seen, c.reparto FROM operator_sessions s "
            "JOIN companies c ON c.id = s.company_id WHERE s.id_hash = ? AND c.code = ?",
            {std::string_view(idHash), std::string_view(code)});
    });
    if (found.empty()) return std::nullopt;
    const std::int64_t lastSeen = found.Int(0, 1);
    if (now - lastSeen > kSessionLifetime + kTouchInterval) return std::nullopt;
    if (now - lastSeen >= kTouchInterval) {
        database_->Write([&](SqlConnection& db) {
            db.Run("UPDATE operator_sessions SET last_seen = ? WHERE id_hash = ? AND last_seen < ?",
                   {now, std::string_view(idHash), now});
        });
    }
    return OperatorSession{found.Int(0, 0), idHash, found.Text(0, 2) == "uno"};
}

namespace {

Storage::Failures FailuresOf(const SqlRows& row, std::int64_t now) {
    if (row.empty() || now - row.Int(0, 1) > Storage::kFailureMemory) return {};
    return {static_cast<unsigned>(row.Int(0, 0)), row.Int(0, 1)};
}

// The failures of a key; locked, the key's row is made where missing and held until the
// commit, so that services sharing the database decide on the key one attempt at a time.
Storage::Failures KeyFailures(SqlConnection& db, const std::string& key, bool lock,
                              std::int64_t now) {
    if (!lock) {
        return FailuresOf(db.Run("SELECT count, last FROM login_failures WHERE key = ?", {key}),
                          now);
    }
    return FailuresOf(db.Run("INSERT INTO login_failures (key, count, last) VALUES (?, 0, ?) "
                             "ON CONFLICT (key) DO UPDATE SET count = login_failures.count "
                             "RETURNING count, last",
                             {std::string_view(key), now}),
                      now);
}

unsigned CountFailure(SqlConnection& db, const std::string& key, std::int64_t now) {
    const SqlRows row = db.Run(
        "INSERT INTO login_failures (key, count, last) VALUES (?, 1, ?) "
        "ON CONFLICT (key) DO UPDATE SET last = excluded.last, count = CASE "
        "WHEN excluded.last - login_failures.last > ? THEN 1 "
        "ELSE login_failures.count + 1 END RETURNING count",
        {std::string_view(key), now, Storage::kFailureMemory});
    return static_cast<unsigned>(row.Int(0, 0));
}

}  // namespace

void Storage::ForgetLoginFailures(const std::vector<std::string>& keys) {
    database_->Write([&](SqlConnection& db) {
        for (const std::string& key : keys) {
            db.Run("DELETE FROM login_failures WHERE key = ?", {key});
        }
    });
}

Storage::LoginAttempt Storage::AttemptLogin(const std::string& code, const std::string& address) {
    const std::int64_t now = clock_();
    // In the order they are locked in: "direccion" sorts before "empresa", and a company's key
    // before its pairs.
    const std::string addressKey = "direccion " + address;
    const std::string companyKey = "empresa " + code;
    const std::string pairKey = companyKey + " " + addressKey;
    return database_->Write([&](SqlConnection& db) {
        LoginAttempt attempt;
        const auto company = CompanyId(db, code);
        attempt.companyExists = company.has_value();
        attempt.keys = {addressKey};
        if (company) attempt.keys.insert(attempt.keys.end(), {companyKey, pairKey});
        const bool known =
            company && !db.Run(
                              "SELECT 1 FROM known_addresses WHERE company_id = ? AND "
                              "address = ? AND last_login >= ?",
                              {*company, std::string_view(address), now - kKnownAddressMemory})
                            .empty();
        bool pairCounts = false;
        // The wait, from the keys read or locked; a refusal needs no lock, since a wait that
        // was committed holds until its time.
        const auto wait = [&](bool lock) {
            const Failures byAddress = KeyFailures(db, addressKey, lock, now);
            std::int64_t wait = LoginWait(byAddress.count, byAddress.last, now);
            if (!company) return wait;
            const Failures byCompany = KeyFailures(db, companyKey, lock, now);
            pairCounts = !known && byCompany.count > kFreeLoginFailures;
            if (!pairCounts) return wait;
            const Failures byPair = KeyFailures(db, pairKey, lock, now);
            return std::max(wait, LoginWait(byPair.count, byPair.last, now, 0));
        };
        attempt.wait = wait(false);
        if (attempt.wait == 0) attempt.wait = wait(true);
        if (attempt.wait > 0) return attempt;
        attempt.addressFailures = CountFailure(db, addressKey, now);
        attempt.counted = {addressKey};
        if (company) {
            attempt.companyFailures = CountFailure(db, companyKey, now);
            attempt.counted.push_back(companyKey);
        }
        if (pairCounts) {
            CountFailure(db, pairKey, now);
            attempt.counted.push_back(pairKey);
        }
        return attempt;
    });
}

void Storage::UncountLoginFailure(const std::vector<std::string>& keys) {
    database_->Write([&](SqlConnection& db) {
        for (const std::string& key : keys) {
            db.Run("UPDATE login_failures SET count = count - 1 WHERE key = ? AND count > 0",
                   {key});
        }
    });
}

void Storage::RememberAddress(const std::string& code, const std::string& address) {
    const std::int64_t now = clock_();
    database_->Write([&](SqlConnection& db) {
        db.Run(
            "INSERT INTO known_addresses (company_id, address, last_login) "
            "SELECT id, ?, ? FROM companies WHERE code = ? "
            "ON CONFLICT (company_id, address) DO UPDATE SET last_login = excluded.last_login",
            {std::string_view(address), now, std::string_view(code)});
    });
}

std::vector<ConversationInfo> Storage::OpenConversations(std::int64_t companyId) {
    const OwnerTimes times = TimesAt(clock_(), ownerSilence_);
    const SqlRows rows = database_->Read([&](SqlConnection& db) {
        return db.Run(std::string("SELECT c.id, c.visitor_name, c.open, c.visitor_lines, ") +
                          kOwnerColumn +
                          " FROM conversations c WHERE c.company_id = ? AND c.open = 1 ORDER BY "
                          "c.id",
                      {times.asked, times.sessionUsed, companyId});
    });
    std::vector<ConversationInfo> result;
    for (std::size_t row = 0; row < rows.size(); ++row) {
        result.push_back(ConversationFrom(rows, row));
    }
    return result;
}

std::vector<ConversationInfo> Storage::RecentlyClosed(std::int64_t companyId,
                                                      std::int64_t seconds) {
    const std::int64_t now = clock_();
    const OwnerTimes times = TimesAt(now, ownerSilence_);
    const SqlRows rows = database_->Read([&](SqlConnection& db) {
        return db.Run(std::string("SELECT c.id, c.visitor_name, c.open, c.visitor_lines, ") +
                          kOwnerColumn +
                          " FROM conversations c WHERE c.open = 0 AND c.closed_at >= ? AND "
                          "c.company_id = ? ORDER BY c.id",
                      {times.asked, times.sessionUsed, now - seconds, companyId});
    });
    std::vector<ConversationInfo> result;
    for (std::size_t row = 0; row < rows.size(); ++row) {
        result.push_back(ConversationFrom(rows, row));
    }
    return result;
}

std::optional<ConversationInfo> Storage::CompanyConversation(std::int64_t companyId,
                                                             std::int32_t conversationId) {
    const OwnerTimes times = TimesAt(clock_(), ownerSilence_);
    return database_->Read([&](SqlConnection& db) {
        return FindCompanyConversation(db, companyId, conversationId, times);
    });
}

LineResult Storage::AddOperatorLine(std::int64_t companyId, std::int32_t conversationId,
                                    const std::string& text, const ConversationCaps& caps) {
    return StoreOperatorLine(companyId, conversationId, text, caps, nullptr);
}

LineResult Storage::AddOperatorLine(const OperatorSession& session, std::int32_t conversationId,
                                    const std::string& text, const ConversationCaps& caps) {
    return StoreOperatorLine(session.company, conversationId, text, caps, &session);
}

LineResult Storage::StoreOperatorLine(std::int64_t companyId, std::int32_t conversationId,
                                      const std::string& text, const ConversationCaps& caps,
                                      const OperatorSession* asker) {
    const std::int64_t now = clock_();
    const OwnerTimes times = TimesAt(now, ownerSilence_);
    return database_->Write([&](SqlConnection& db) {
        return InsertLine(db, FindCompanyConversation(db, companyId, conversationId, times), true,
                          text, caps, CheckFor(asker, times), now);
    });
}

CloseResult Storage::Close(std::int64_t companyId, std::int32_t conversationId) {
    return CloseAs(companyId, conversationId, nullptr);
}

CloseResult Storage::Close(const OperatorSession& session, std::int32_t conversationId) {
    return CloseAs(session.company, conversationId, &session);
}

CloseResult Storage::CloseAs(std::int64_t companyId, std::int32_t conversationId,
                             const OperatorSession* asker) {
    const std::int64_t now = clock_();
    const OwnerTimes times = TimesAt(now, ownerSilence_);
    const OwnerCheck owner = CheckFor(asker, times);
    return database_->Write([&](SqlConnection& db) {
        const std::int64_t id = conversationId;
        const SqlRows closed =
            db.Run(std::string("UPDATE conversations SET open = 0, closed_at = ? "
                               "WHERE id = ? AND company_id = ? AND open = 1 AND (? = 0 OR ") +
                       kNoOtherOwner + ") RETURNING id",
                   {now, id, companyId, std::int64_t{owner.checked ? 1 : 0},
                    std::string_view(owner.idHash), owner.times.asked, owner.times.sessionUsed});
        if (!closed.empty()) {
            Announce(db, companyId, id);
            return CloseResult::Closed;
        }
        const auto conversation = FindCompanyConversation(db, companyId, conversationId, times);
        if (!conversation) return CloseResult::NotFound;
        return conversation->open ? CloseResult::Owned : CloseResult::AlreadyClosed;
    });
}

ClaimResult Storage::Claim(const OperatorSession& session, std::int32_t conversationId) {
    const std::int64_t now = clock_();
    const OwnerTimes times = TimesAt(now, ownerSilence_);
    const auto conversation = database_->Read([&](SqlConnection& db) {
        return db.Run(
            std::string("SELECT c.open, c.owner_seen, ") + kOwnerColumn +
                " FROM conversations c WHERE c.id = ? AND c.company_id = ?",
            {times.asked, times.sessionUsed, std::int64_t{conversationId}, session.company});
    });
    if (conversation.empty() || conversation.Int(0, 0) == 0) return ClaimResult::Free;
    const std::string owner = conversation.Text(0, 2);
    if (owner == session.idHash && now - conversation.Int(0, 1) < OwnerTouchInterval()) {
        return ClaimResult::Mine;
    }
    if (!owner.empty() && owner != session.idHash) return ClaimResult::Other;
    // Taken, or its time renewed, only while no other live session has it.
    return database_->Write([&](SqlConnection& db) {
        const SqlRows taken = db.Run(
            std::string("UPDATE conversations SET owner_session = ?, owner_seen = ? WHERE id = ? "
                        "AND company_id = ? AND open = 1 AND ") +
                kNoOtherOwner + " RETURNING id",
            {std::string_view(session.idHash), now, std::int64_t{conversationId}, session.company,
             std::string_view(session.idHash), times.asked, times.sessionUsed});
        if (!taken.empty()) return ClaimResult::Mine;
        // Closed meanwhile belongs to no one; the console's transcript says that it ended.
        const SqlRows open =
            db.Run("SELECT open FROM conversations WHERE id = ?", {std::int64_t{conversationId}});
        return open.empty() || open.Int(0, 0) == 0 ? ClaimResult::Free : ClaimResult::Other;
    });
}

void Storage::TouchOwned(const OperatorSession& session) {
    const std::int64_t now = clock_();
    database_->Write([&](SqlConnection& db) {
        db.Run(
            "UPDATE conversations SET owner_seen = ? "
            "WHERE owner_session = ? AND open = 1 AND owner_seen < ?",
            {now, std::string_view(session.idHash), now});
    });
}

std::int64_t Storage::OwnerTouchInterval() const {
    // Well within the silence that frees a conversation, and rare enough for polls to stay
    // reads.
    return std::clamp<std::int64_t>(ownerSilence_ / 4, 1, 15);
}

bool Storage::SetOneConsole(const std::string& code, bool oneConsole) {
    return database_->Write([&](SqlConnection& db) {
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

std::optional<std::vector<std::string>> Storage::CompanyOptions(const std::string& code) {
    const SqlRows rows = database_->Read([&](SqlConnection& db) {
        return db.Run("SELECT reparto FROM companies WHERE code = ?", {code});
    });
    if (rows.empty()) return std::nullopt;
    return std::vector<std::string>{"reparto=" + rows.Text(0, 0)};
}

OpenedConversation Storage::OpenConversation(const std::string& companyCode,
                                             const std::string& visitorName, unsigned maxWaiting,
                                             unsigned silenceSeconds) {
    const std::string token = RandomHex(16);
    const std::string tokenHash = Sha256Hex(token);
    const std::int64_t now = clock_();
    using Outcome = OpenedConversation::Outcome;
    return database_->Write([&](SqlConnection& db) -> OpenedConversation {
        // Touching the company's row locks it until the commit, so that services sharing a
        // database count the company's waiting conversations one opening at a time.
        const SqlRows company =
            db.Run("UPDATE companies SET code = code WHERE code = ? RETURNING id", {companyCode});
        if (company.empty()) return {Outcome::NoCompany, {}};
        const std::int64_t companyId = company.Int(0, 0);
        const auto waiting = [&] {
            return db
                .Run("SELECT COUNT(*) FROM conversations WHERE company_id = ? AND open = 1",
                     {companyId})
                .Int(0, 0);
        };
        if (maxWaiting != 0 && waiting() >= std::int64_t{maxWaiting}) {
            // Places held by visitors who have gone are given to the new one.
            if (silenceSeconds == 0) return {Outcome::TooManyWaiting, {}};
            const SqlRows closed = db.Run(
                "UPDATE conversations SET open = 0, closed_at = ? "
                "WHERE company_id = ? AND open = 1 AND visitor_seen < ? RETURNING id",
                {now, companyId, now - std::int64_t{silenceSeconds}});
            for (std::size_t row = 0; row < closed.size(); ++row) {
                Announce(db, companyId, closed.Int(row, 0));
            }
            if (waiting() >= std::int64_t{maxWaiting}) return {Outcome::TooManyWaiting, {}};
        }
        const SqlRows inserted = db.Run(
            "INSERT INTO conversations "
            "(company_id, visitor_name, token_hash, open, opened_at, visitor_seen) "
            "VALUES (?, ?, ?, 1, ?, ?) RETURNING id",
            {companyId, std::string_view(visitorName), std::string_view(tokenHash), now, now});
        const std::int64_t id = inserted.Int(0, 0);
        // Conversation ids travel as signed 32-bit integers to the console.
        if (id > std::numeric_limits<std::int32_t>::max()) {
            throw std::runtime_error("conversation ids exhausted");
        }
        Announce(db, companyId, id);
        return {Outcome::Opened, NewConversation{static_cast<std::int32_t>(id), token}};
    });
}

std::optional<ConversationInfo> Storage::VisitorConversation(std::int32_t conversationId,
                                                             const std::string& token,
                                                             std::int64_t touchAfter) {
    const std::int64_t now = clock_();
    const std::string tokenHash = Sha256Hex(token);
    std::int64_t heard = 0;
    auto conversation = database_->Read([&](SqlConnection& db) {
        const SqlRows rows = db.Run(
            "SELECT id, visitor_name, open, visitor_lines, '', visitor_seen FROM conversations "
            "WHERE id = ? AND token_hash = ?",
            {std::int64_t{conversationId}, std::string_view(tokenHash)});
        if (!rows.empty()) heard = rows.Int(0, 5);
        return FirstConversation(rows);
    });
    // Reads stay reads but for a write now and then.
    if (conversation && conversation->open && now - heard >= touchAfter) {
        TouchVisitors({conversationId});
    }
    return conversation;
}

LineResult Storage::AddVisitorLine(std::int32_t conversationId, const std::string& token,
                                   const std::string& text, const ConversationCaps& caps) {
    const std::int64_t now = clock_();
    return database_->Write([&](SqlConnection& db) {
        return InsertLine(db, FindVisitorConversation(db, conversationId, token), false, text, caps,
                          OwnerCheck{}, now);
    });
}

std::vector<StoredMessage> Storage::Messages(std::int32_t conversationId) {
    SqlRows rows = database_->Read([&](SqlConnection& db) {
        return db.Run(
            "SELECT from_operator, text FROM messages WHERE conversation_id = ? ORDER BY id",
            {std::int64_t{conversationId}});
    });
    std::vector<StoredMessage> result;
    result.reserve(rows.size());
    for (std::size_t row = 0; row < rows.size(); ++row) {
        result.push_back({rows.Int(row, 0) != 0, rows.TakeText(row, 1)});
    }
    return result;
}

std::size_t Storage::CloseSilentConversations(std::int64_t silenceSeconds, std::size_t batch) {
    const std::int64_t now = clock_();
    return database_->Write([&](SqlConnection& db) {
        const SqlRows closed = db.Run(
            "UPDATE conversations SET open = 0, closed_at = ? WHERE id IN (SELECT id FROM "
            "conversations WHERE open = 1 AND visitor_seen < ? LIMIT ?) RETURNING id, company_id",
            {now, now - silenceSeconds, Count(batch)});
        for (std::size_t row = 0; row < closed.size(); ++row) {
            Announce(db, closed.Int(row, 1), closed.Int(row, 0));
        }
        return closed.size();
    });
}

ConversationNews Storage::LinesAfter(std::int32_t conversationId, std::size_t after,
                                     std::size_t limit) {
    return database_->Read([&](SqlConnection& db) {
        ConversationNews news;
        const SqlRows state = db.Run("SELECT open, line_count FROM conversations WHERE id = ?",
                                     {std::int64_t{conversationId}});
        if (state.empty()) return news;
        news.found = true;
        news.open = state.Int(0, 0) != 0;
        const std::int64_t lines = state.Int(0, 1);
        news.first = after <= static_cast<std::uint64_t>(lines) ? after : 0;
        SqlRows rows = db.Run(
            "SELECT from_operator, text FROM messages WHERE conversation_id = ? ORDER BY id "
            "LIMIT ? OFFSET ?",
            {std::int64_t{conversationId}, Count(limit), Count(news.first)});
        for (std::size_t row = 0; row < rows.size(); ++row) {
            news.lines.push_back({rows.Int(row, 0) != 0, rows.TakeText(row, 1)});
        }
        return news;
    });
}

std::vector<ConversationActivity> Storage::OpenActivity(std::int64_t companyId) {
    const OwnerTimes times = TimesAt(clock_(), ownerSilence_);
    const SqlRows rows = database_->Read([&](SqlConnection& db) {
        return db.Run(std::string("SELECT c.id, c.visitor_lines, c.line_count, ") + kOwnerColumn +
                          " FROM conversations c WHERE c.company_id = ? AND c.open = 1 ORDER BY "
                          "c.id",
                      {times.asked, times.sessionUsed, companyId});
    });
    std::vector<ConversationActivity> result;
    for (std::size_t row = 0; row < rows.size(); ++row) {
        result.push_back({static_cast<std::int32_t>(rows.Int(row, 0)), rows.Int(row, 1),
                          rows.Int(row, 2), rows.Text(row, 3)});
    }
    return result;
}

void Storage::TouchVisitors(const std::vector<std::int32_t>& conversationIds) {
    if (conversationIds.empty()) return;
    const std::int64_t now = clock_();
    database_->Write([&](SqlConnection& db) {
        for (const std::int32_t id : conversationIds) {
            db.Run(
                "UPDATE conversations SET visitor_seen = ? "
                "WHERE id = ? AND open = 1 AND visitor_seen < ?",
                {now, std::int64_t{id}, now});
        }
    });
}

void Storage::WatchChanges(
    std::function<void(std::int64_t company, std::int32_t conversation)> changed,
    std::function<void()> unknown) {
    ChangeWatcher watcher;
    if (changed) {
        watcher.changed = [changed = std::move(changed)](const std::string& change) {
            const std::size_t colon = change.find(':');
            if (colon == std::string::npos) return;
            try {
                changed(std::stoll(change.substr(0, colon)),
                        static_cast<std::int32_t>(std::stol(change.substr(colon + 1))));
            } catch (const std::logic_error&) {
                // Not one of this service's announcements: nothing to wake.
            }
        };
    }
    watcher.unknown = std::move(unknown);
    database_->WatchChanges(std::move(watcher));
}

std::size_t Storage::RemoveExpired(std::int64_t keepSeconds, std::size_t batch) {
    const std::int64_t now = clock_();
    return database_->Write([&](SqlConnection& db) {
        std::size_t removed = 0;
        const auto remove = [&](const char* sql, std::int64_t before) {
            if (removed >= batch) return;
            removed += db.Run(sql, {before, Count(batch - removed)}).size();
        };
        remove(
            "DELETE FROM operator_sessions WHERE id_hash IN (SELECT id_hash FROM "
            "operator_sessions WHERE last_seen < ? LIMIT ?) RETURNING company_id",
            now - kSessionLifetime - kTouchInterval);
        remove(
            "DELETE FROM login_failures WHERE key IN (SELECT key FROM login_failures "
            "WHERE last < ? LIMIT ?) RETURNING count",
            now - kFailureMemory);
        remove(
            "DELETE FROM known_addresses WHERE (company_id, address) IN (SELECT company_id, "
            "address FROM known_addresses WHERE last_login < ? LIMIT ?) RETURNING company_id",
            now - kKnownAddressMemory);
        if (keepSeconds == 0) return removed;
        // Lines first: a conversation goes with the batch that finds it without lines.
        remove(
            "DELETE FROM messages WHERE id IN (SELECT m.id FROM conversations c "
            "JOIN messages m ON m.conversation_id = c.id "
            "WHERE c.open = 0 AND c.closed_at < ? LIMIT ?) RETURNING id",
            now - keepSeconds);
        remove(
            "DELETE FROM conversations WHERE id IN (SELECT c.id FROM conversations c "
            "WHERE c.open = 0 AND c.closed_at < ? AND NOT EXISTS "
            "(SELECT 1 FROM messages m WHERE m.conversation_id = c.id) LIMIT ?) RETURNING id",
            now - keepSeconds);
        return removed;
    });
}

bool Storage::AllowSite(const std::string& code, const std::string& origin) {
    return database_->Write([&](SqlConnection& db) {
        const auto id = CompanyId(db, code);
        if (!id) return false;
        db.Run(
            "INSERT INTO allowed_sites (company_id, origin) VALUES (?, ?) ON CONFLICT DO NOTHING",
            {*id, std::string_view(origin)});
        return true;
    });
}

bool Storage::DisallowSite(const std::string& code, const std::string& origin) {
    return database_->Write([&](SqlConnection& db) {
        const auto id = CompanyId(db, code);
        if (!id) return false;
        db.Run("DELETE FROM allowed_sites WHERE company_id = ? AND origin = ?",
               {*id, std::string_view(origin)});
        return true;
    });
}

std::vector<std::string> Storage::AllowedSites(const std::string& code) {
    const SqlRows rows = database_->Read([&](SqlConnection& db) {
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
