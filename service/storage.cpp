#include "service/storage.h"

#include <chrono>
#include <limits>
#include <stdexcept>

#include "service/secrets.h"

namespace tertulia {

namespace {

constexpr std::size_t kReaders = 8;

// The session's last-use time is written at most this often, so that polls stay reads; a
// session therefore lives at least its full lifetime after its last request.
constexpr std::int64_t kTouchInterval = 30;

const char* const kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS companies (
    id INTEGER PRIMARY KEY,
    code TEXT NOT NULL UNIQUE,
    salt TEXT NOT NULL,
    iterations INTEGER NOT NULL,
    hash TEXT NOT NULL
);
DROP TABLE IF EXISTS sessions;
CREATE TABLE IF NOT EXISTS operator_sessions (
    id_hash TEXT PRIMARY KEY,
    company_id INTEGER NOT NULL REFERENCES companies(id),
    last_seen INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS service_state (
    name TEXT PRIMARY KEY,
    value INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS conversations (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    company_id INTEGER NOT NULL REFERENCES companies(id),
    visitor_name TEXT NOT NULL,
    token_hash TEXT NOT NULL,
    open INTEGER NOT NULL,
    opened_at INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS conversations_open ON conversations(company_id, open, id);
CREATE TABLE IF NOT EXISTS messages (
    id INTEGER PRIMARY KEY,
    conversation_id INTEGER NOT NULL REFERENCES conversations(id),
    from_operator INTEGER NOT NULL,
    text TEXT NOT NULL,
    sent_at INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS messages_of_conversation ON messages(conversation_id, id);
CREATE TABLE IF NOT EXISTS allowed_sites (
    company_id INTEGER NOT NULL REFERENCES companies(id),
    origin TEXT NOT NULL,
    PRIMARY KEY (company_id, origin)
);
)SQL";

std::int64_t SystemClock() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

ConversationInfo ConversationFrom(Statement& row) {
    return {static_cast<std::int32_t>(row.Int(0)), row.Text(1), row.Int(2) != 0};
}

LineResult InsertLine(Connection& db, std::optional<ConversationInfo> conversation,
                      bool fromOperator, const std::string& text, const ConversationCaps& caps,
                      std::int64_t now) {
    if (!conversation) return LineResult::NotFound;
    if (!conversation->open) return LineResult::Closed;
    if (caps.lines != 0 || caps.bytes != 0) {
        auto held = db.Prepare(
            "SELECT COUNT(*), COALESCE(SUM(LENGTH(CAST(text AS BLOB))), 0) FROM messages "
            "WHERE conversation_id = ?");
        held.Bind(1, conversation->id).Step();
        const auto lines = static_cast<std::uint64_t>(held.Int(0));
        const auto bytes = static_cast<std::uint64_t>(held.Int(1));
        if (caps.lines != 0 && lines >= caps.lines) return LineResult::Full;
        if (caps.bytes != 0 && bytes + text.size() > caps.bytes) return LineResult::Full;
    }
    db.Prepare(
          "INSERT INTO messages (conversation_id, from_operator, text, sent_at) "
          "VALUES (?, ?, ?, ?)")
        .Bind(1, conversation->id)
        .Bind(2, fromOperator ? 1 : 0)
        .Bind(3, text)
        .Bind(4, now)
        .Step();
    return LineResult::Stored;
}

std::optional<ConversationInfo> FindCompanyConversation(Connection& db, std::int64_t companyId,
                                                        std::int32_t conversationId) {
    auto row = db.Prepare(
        "SELECT id, visitor_name, open FROM conversations WHERE id = ? AND company_id = ?");
    row.Bind(1, conversationId).Bind(2, companyId);
    if (!row.Step()) return std::nullopt;
    return ConversationFrom(row);
}

std::optional<ConversationInfo> FindVisitorConversation(Connection& db, std::int32_t conversationId,
                                                        const std::string& token) {
    auto row = db.Prepare(
        "SELECT id, visitor_name, open FROM conversations WHERE id = ? AND token_hash = ?");
    row.Bind(1, conversationId).Bind(2, Sha256Hex(token));
    if (!row.Step()) return std::nullopt;
    return ConversationFrom(row);
}

}  // namespace

Storage::Storage(const std::string& path, Clock clock) try
    : clock_(clock ? std::move(clock) : Clock(SystemClock)), database_(path, kReaders) {
    // A real write, committed, is the only sure sign that the file, its directory and the disk
    // all take writes.
    const std::int64_t now = clock_();
    database_.Write([&](Connection& db) {
        db.Execute(kSchema);
        db.Prepare("INSERT OR REPLACE INTO service_state (name, value) VALUES ('opened', ?)")
            .Bind(1, now)
            .Step();
    });
} catch (const std::exception& failure) {
    throw std::runtime_error("no se puede escribir en la base de datos " + path + ": " +
                             failure.what());
}

bool Storage::HasCompanies() {
    return database_.Read([](Connection& db) {
        auto row = db.Prepare("SELECT EXISTS (SELECT 1 FROM companies)");
        return row.Step() && row.Int(0) != 0;
    });
}

bool Storage::AddCompany(const std::string& code, const std::string& digestText) {
    const PasswordHash hash = HashDigestText(digestText);
    return database_.Write([&](Connection& db) {
        auto exists = db.Prepare("SELECT 1 FROM companies WHERE code = ?");
        if (exists.Bind(1, code).Step()) return false;
        db.Prepare("INSERT INTO companies (code, salt, iterations, hash) VALUES (?, ?, ?, ?)")
            .Bind(1, code)
            .Bind(2, hash.salt)
            .Bind(3, hash.iterations)
            .Bind(4, hash.hash)
            .Step();
        return true;
    });
}

bool Storage::SetPassword(const std::string& code, const std::string& digestText) {
    const PasswordHash hash = HashDigestText(digestText);
    return database_.Write([&](Connection& db) {
        auto company = db.Prepare("SELECT id FROM companies WHERE code = ?");
        if (!company.Bind(1, code).Step()) return false;
        const std::int64_t id = company.Int(0);
        db.Prepare("UPDATE companies SET salt = ?, iterations = ?, hash = ? WHERE id = ?")
            .Bind(1, hash.salt)
            .Bind(2, hash.iterations)
            .Bind(3, hash.hash)
            .Bind(4, id)
            .Step();
        db.Prepare("DELETE FROM operator_sessions WHERE company_id = ?").Bind(1, id).Step();
        return true;
    });
}

bool Storage::RemoveCompany(const std::string& code) {
    return database_.Write([&](Connection& db) {
        auto company = db.Prepare("SELECT id FROM companies WHERE code = ?");
        if (!company.Bind(1, code).Step()) return false;
        const std::int64_t id = company.Int(0);
        db.Prepare(
              "DELETE FROM messages WHERE conversation_id IN "
              "(SELECT id FROM conversations WHERE company_id = ?)")
            .Bind(1, id)
            .Step();
        db.Prepare("DELETE FROM conversations WHERE company_id = ?").Bind(1, id).Step();
        db.Prepare("DELETE FROM operator_sessions WHERE company_id = ?").Bind(1, id).Step();
        db.Prepare("DELETE FROM allowed_sites WHERE company_id = ?").Bind(1, id).Step();
        db.Prepare("DELETE FROM companies WHERE id = ?").Bind(1, id).Step();
        return true;
    });
}

std::optional<std::string> Storage::Login(const std::string& code, const std::string& digestText) {
    struct Found {
        std::int64_t companyId;
        PasswordHash hash;
    };
    const auto found = database_.Read([&](Connection& db) -> std::optional<Found> {
        auto row = db.Prepare("SELECT id, salt, iterations, hash FROM companies WHERE code = ?");
        if (!row.Bind(1, code).Step()) return std::nullopt;
        return Found{row.Int(0), {row.Text(1), static_cast<int>(row.Int(2)), row.Text(3)}};
    });
    // An unknown company costs the same time as a wrong password.
    static const PasswordHash kNobody = HashDigestText("");
    const bool matches = DigestTextMatches(digestText, found ? found->hash : kNobody);
    if (!found || !matches) return std::nullopt;

    const std::string sessionId = RandomHex(16);
    const std::int64_t now = clock_();
    database_.Write([&](Connection& db) {
        db.Prepare("DELETE FROM operator_sessions WHERE last_seen < ?")
            .Bind(1, now - kSessionLifetime - kTouchInterval)
            .Step();
        db.Prepare(
              "INSERT INTO operator_sessions (id_hash, company_id, last_seen) VALUES (?, ?, ?)")
            .Bind(1, Sha256Hex(sessionId))
            .Bind(2, found->companyId)
            .Bind(3, now)
            .Step();
    });
    return sessionId;
}

std::optional<std::int64_t> Storage::SessionCompany(const std::string& code,
                                                    const std::string& sessionId) {
    const std::int64_t now = clock_();
    const std::string idHash = Sha256Hex(sessionId);
    struct Found {
        std::int64_t companyId;
        std::int64_t lastSeen;
    };
    const auto found = database_.Read([&](Connection& db) -> std::optional<Found> {
        auto row = db.Prepare(
            "SELECT s.company_id, s.last_seen FROM operator_sessions s "
            "JOIN companies c ON c.id = s.company_id WHERE s.id_hash = ? AND c.code = ?");
        if (!row.Bind(1, idHash).Bind(2, code).Step()) return std::nullopt;
        return Found{row.Int(0), row.Int(1)};
    });
    if (!found || now - found->lastSeen > kSessionLifetime + kTouchInterval) return std::nullopt;
    if (now - found->lastSeen >= kTouchInterval) {
        database_.Write([&](Connection& db) {
            db.Prepare(
                  "UPDATE operator_sessions SET last_seen = ? WHERE id_hash = ? AND last_seen < ?")
                .Bind(1, now)
                .Bind(2, idHash)
                .Bind(3, now)
                .Step();
        });
    }
    return found->companyId;
}

std::vector<ConversationInfo> Storage::OpenConversations(std::int64_t companyId) {
    return database_.Read([&](Connection& db) {
        std::vector<ConversationInfo> result;
        auto row = db.Prepare(
            "SELECT id, visitor_name, open FROM conversations "
            "WHERE company_id = ? AND open = 1 ORDER BY id");
        row.Bind(1, companyId);
        while (row.Step()) result.push_back(ConversationFrom(row));
        return result;
    });
}

std::optional<ConversationInfo> Storage::CompanyConversation(std::int64_t companyId,
                                                             std::int32_t conversationId) {
    return database_.Read(
        [&](Connection& db) { return FindCompanyConversation(db, companyId, conversationId); });
}

LineResult Storage::AddOperatorLine(std::int64_t companyId, std::int32_t conversationId,
                                    const std::string& text, const ConversationCaps& caps) {
    const std::int64_t now = clock_();
    return database_.Write([&](Connection& db) {
        return InsertLine(db, FindCompanyConversation(db, companyId, conversationId), true, text,
                          caps, now);
    });
}

CloseResult Storage::Close(std::int64_t companyId, std::int32_t conversationId) {
    return database_.Write([&](Connection& db) {
        const auto conversation = FindCompanyConversation(db, companyId, conversationId);
        if (!conversation) return CloseResult::NotFound;
        if (!conversation->open) return CloseResult::AlreadyClosed;
        db.Prepare("UPDATE conversations SET open = 0 WHERE id = ?").Bind(1, conversationId).Step();
        return CloseResult::Closed;
    });
}

OpenedConversation Storage::OpenConversation(const std::string& companyCode,
                                             const std::string& visitorName, unsigned maxWaiting) {
    const std::string token = RandomHex(16);
    const std::int64_t now = clock_();
    using Outcome = OpenedConversation::Outcome;
    return database_.Write([&](Connection& db) -> OpenedConversation {
        auto company = db.Prepare("SELECT id FROM companies WHERE code = ?");
        if (!company.Bind(1, companyCode).Step()) return {Outcome::NoCompany, {}};
        const std::int64_t companyId = company.Int(0);
        if (maxWaiting != 0) {
            auto waiting =
                db.Prepare("SELECT COUNT(*) FROM conversations WHERE company_id = ? AND open = 1");
            waiting.Bind(1, companyId).Step();
            if (waiting.Int(0) >= maxWaiting) return {Outcome::TooManyWaiting, {}};
        }
        auto insert = db.Prepare(
            "INSERT INTO conversations (company_id, visitor_name, token_hash, open, opened_at) "
            "VALUES (?, ?, ?, 1, ?) RETURNING id");
        insert.Bind(1, companyId).Bind(2, visitorName).Bind(3, Sha256Hex(token)).Bind(4, now);
        if (!insert.Step()) throw std::runtime_error("conversation not created");
        const std::int64_t id = insert.Int(0);
        // Conversation ids travel as signed 32-bit integers to the console.
        if (id > std::numeric_limits<std::int32_t>::max()) {
            throw std::runtime_error("conversation ids exhausted");
        }
        return {Outcome::Opened, NewConversation{static_cast<std::int32_t>(id), token}};
    });
}

std::optional<ConversationInfo> Storage::VisitorConversation(std::int32_t conversationId,
                                                             const std::string& token) {
    return database_.Read(
        [&](Connection& db) { return FindVisitorConversation(db, conversationId, token); });
}

LineResult Storage::AddVisitorLine(std::int32_t conversationId, const std::string& token,
                                   const std::string& text, const ConversationCaps& caps) {
    const std::int64_t now = clock_();
    return database_.Write([&](Connection& db) {
        return InsertLine(db, FindVisitorConversation(db, conversationId, token), false, text, caps,
                          now);
    });
}

std::vector<StoredMessage> Storage::Messages(std::int32_t conversationId) {
    return database_.Read([&](Connection& db) {
        std::vector<StoredMessage> result;
        auto row = db.Prepare(
            "SELECT from_operator, text FROM messages WHERE conversation_id = ? ORDER BY id");
        row.Bind(1, conversationId);
        while (row.Step()) result.push_back({row.Int(0) != 0, row.Text(1)});
        return result;
    });
}

bool Storage::AllowSite(const std::string& code, const std::string& origin) {
    return database_.Write([&](Connection& db) {
        auto company = db.Prepare("SELECT id FROM companies WHERE code = ?");
        if (!company.Bind(1, code).Step()) return false;
        db.Prepare("INSERT OR IGNORE INTO allowed_sites (company_id, origin) VALUES (?, ?)")
            .Bind(1, company.Int(0))
            .Bind(2, origin)
            .Step();
        return true;
    });
}

bool Storage::DisallowSite(const std::string& code, const std::string& origin) {
    return database_.Write([&](Connection& db) {
        auto company = db.Prepare("SELECT id FROM companies WHERE code = ?");
        if (!company.Bind(1, code).Step()) return false;
        db.Prepare("DELETE FROM allowed_sites WHERE company_id = ? AND origin = ?")
            .Bind(1, company.Int(0))
            .Bind(2, origin)
            .Step();
        return true;
    });
}

std::vector<std::string> Storage::AllowedSites(const std::string& code) {
    return database_.Read([&](Connection& db) {
        std::vector<std::string> result;
        auto row = db.Prepare(
            "SELECT s.origin FROM allowed_sites s JOIN companies c ON c.id = s.company_id "
            "WHERE c.code = ? ORDER BY s.origin");
        row.Bind(1, code);
        while (row.Step()) result.push_back(row.Text(0));
        return result;
    });
}

}  // namespace tertulia
