#include "service/schema_steps.h"

#include <array>

namespace tertulia {

namespace {

// Step 1 on SQLite is the schema of the service before versions were kept, so a file from then
// takes every step after it.
constexpr const char* kFirstSqlite = R"SQL(
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
)SQL";

constexpr const char* kFirstPostgres = R"SQL(
CREATE TABLE companies (
    id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    code TEXT NOT NULL UNIQUE,
    salt TEXT NOT NULL,
    iterations INTEGER NOT NULL,
    hash TEXT NOT NULL
);
CREATE TABLE operator_sessions (
    id_hash TEXT PRIMARY KEY,
    company_id BIGINT NOT NULL REFERENCES companies(id),
    last_seen BIGINT NOT NULL
);
CREATE TABLE conversations (
    id INTEGER GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    company_id BIGINT NOT NULL REFERENCES companies(id),
    visitor_name TEXT NOT NULL,
    token_hash TEXT NOT NULL,
    open INTEGER NOT NULL,
    opened_at BIGINT NOT NULL
);
CREATE INDEX conversations_open ON conversations(company_id, open, id);
CREATE TABLE messages (
    id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    conversation_id INTEGER NOT NULL REFERENCES conversations(id),
    from_operator INTEGER NOT NULL,
    text TEXT NOT NULL,
    sent_at BIGINT NOT NULL
);
CREATE INDEX messages_of_conversation ON messages(conversation_id, id);
)SQL";

// Counters of each conversation, kept with every line, for the caps and the news; when it was
// closed, for retention (an older closed conversation counts as closed after its last line);
// failed logins shared by every service on the database; the sites allowed to show a company's
// visitor page in a frame (which an SQLite file from before versions may hold already).
constexpr const char* kCountersAndRetentionSqlite = R"SQL(
ALTER TABLE conversations ADD COLUMN line_count INTEGER NOT NULL DEFAULT 0;
ALTER TABLE conversations ADD COLUMN byte_count INTEGER NOT NULL DEFAULT 0;
ALTER TABLE conversations ADD COLUMN visitor_lines INTEGER NOT NULL DEFAULT 0;
ALTER TABLE conversations ADD COLUMN closed_at INTEGER;
UPDATE conversations SET
    line_count = (SELECT COUNT(*) FROM messages m WHERE m.conversation_id = conversations.id),
    byte_count = (SELECT COALESCE(SUM(LENGTH(CAST(m.text AS BLOB))), 0) FROM messages m
                  WHERE m.conversation_id = conversations.id),
    visitor_lines = (SELECT COUNT(*) FROM messages m
                     WHERE m.conversation_id = conversations.id AND m.from_operator = 0);
UPDATE conversations SET closed_at = COALESCE(
    (SELECT MAX(m.sent_at) FROM messages m WHERE m.conversation_id = conversations.id), opened_at)
    WHERE open = 0;
CREATE INDEX conversations_closed ON conversations(open, closed_at);
CREATE INDEX operator_sessions_last_seen ON operator_sessions(last_seen);
CREATE TABLE login_failures (
    key TEXT PRIMARY KEY,
    count INTEGER NOT NULL,
    last INTEGER NOT NULL
);
CREATE INDEX login_failures_last ON login_failures(last);
CREATE TABLE IF NOT EXISTS allowed_sites (
    company_id INTEGER NOT NULL REFERENCES companies(id),
    origin TEXT NOT NULL,
    PRIMARY KEY (company_id, origin)
);
)SQL";

// No PostgreSQL database was ever left at step 1 (the engine came with step 2), so there are no
// lines to count.
constexpr const char* kCountersAndRetentionPostgres = R"SQL(
ALTER TABLE conversations ADD COLUMN line_count INTEGER NOT NULL DEFAULT 0;
ALTER TABLE conversations ADD COLUMN byte_count BIGINT NOT NULL DEFAULT 0;
ALTER TABLE conversations ADD COLUMN visitor_lines INTEGER NOT NULL DEFAULT 0;
ALTER TABLE conversations ADD COLUMN closed_at BIGINT;
CREATE INDEX conversations_closed ON conversations(open, closed_at);
CREATE INDEX operator_sessions_last_seen ON operator_sessions(last_seen);
CREATE TABLE login_failures (
    key TEXT PRIMARY KEY,
    count INTEGER NOT NULL,
    last BIGINT NOT NULL
);
CREATE INDEX login_failures_last ON login_failures(last);
CREATE TABLE allowed_sites (
    company_id BIGINT NOT NULL REFERENCES companies(id),
    origin TEXT NOT NULL,
    PRIMARY KEY (company_id, origin)
);
)SQL";

// When each conversation's visitor was last heard from (an older open conversation counts as
// heard from at the upgrade), so that silent ones are closed; the client networks that logged in
// to each company, which the company's failed-login wait leaves alone.
constexpr const char* kVisitorsAndKnownAddressesSqlite = R"SQL(
ALTER TABLE conversations ADD COLUMN visitor_seen INTEGER NOT NULL DEFAULT 0;
UPDATE conversations SET visitor_seen = CAST(strftime('%s', 'now') AS INTEGER);
CREATE INDEX conversations_silent ON conversations(open, visitor_seen);
CREATE TABLE known_addresses (
    company_id INTEGER NOT NULL REFERENCES companies(id),
    address TEXT NOT NULL,
    last_login INTEGER NOT NULL,
    PRIMARY KEY (company_id, address)
);
CREATE INDEX known_addresses_last_login ON known_addresses(last_login);
)SQL";

constexpr const char* kVisitorsAndKnownAddressesPostgres = R"SQL(
ALTER TABLE conversations ADD COLUMN visitor_seen BIGINT NOT NULL DEFAULT 0;
UPDATE conversations SET visitor_seen = extract(epoch FROM now())::BIGINT;
CREATE INDEX conversations_silent ON conversations(open, visitor_seen);
CREATE TABLE known_addresses (
    company_id BIGINT NOT NULL REFERENCES companies(id),
    address TEXT NOT NULL,
    last_login BIGINT NOT NULL,
    PRIMARY KEY (company_id, address)
);
CREATE INDEX known_addresses_last_login ON known_addresses(last_login);
)SQL";

// Each open conversation of a company whose visitors are answered by one console belongs to the
// operator session that first listed or asked for it, and passes to the next session of the same
// console program; companies registered before that rule keep seeing every conversation in every
// console until their administrator says otherwise.
constexpr const char* kConversationOwnersSqlite = R"SQL(
ALTER TABLE conversations ADD COLUMN owner_session TEXT;
ALTER TABLE conversations ADD COLUMN owner_seen INTEGER NOT NULL DEFAULT 0;
CREATE INDEX conversations_owner ON conversations(owner_session);
ALTER TABLE operator_sessions ADD COLUMN console TEXT;
ALTER TABLE companies ADD COLUMN reparto TEXT NOT NULL DEFAULT 'uno';
UPDATE companies SET reparto = 'todos';
)SQL";

constexpr const char* kConversationOwnersPostgres = R"SQL(
ALTER TABLE conversations ADD COLUMN owner_session TEXT;
ALTER TABLE conversations ADD COLUMN owner_seen BIGINT NOT NULL DEFAULT 0;
CREATE INDEX conversations_owner ON conversations(owner_session);
ALTER TABLE operator_sessions ADD COLUMN console TEXT;
ALTER TABLE companies ADD COLUMN reparto TEXT NOT NULL DEFAULT 'uno';
UPDATE companies SET reparto = 'todos';
)SQL";

// What the visitor's page tells of where the conversation started, how to reach a visitor who
// left a message while nobody was there, and the visitor's answer to whether they were helped;
// the name a company's visitors see (its code while none is set).
constexpr const char* kVisitorContextSqlite = R"SQL(
ALTER TABLE conversations ADD COLUMN contact TEXT;
ALTER TABLE conversations ADD COLUMN page TEXT;
ALTER TABLE conversations ADD COLUMN referrer TEXT;
ALTER TABLE conversations ADD COLUMN language TEXT;
ALTER TABLE conversations ADD COLUMN offline INTEGER NOT NULL DEFAULT 0;
ALTER TABLE conversations ADD COLUMN helped INTEGER;
ALTER TABLE conversations ADD COLUMN rating_comment TEXT;
ALTER TABLE conversations ADD COLUMN page_gone INTEGER NOT NULL DEFAULT 0;
ALTER TABLE companies ADD COLUMN name TEXT;
)SQL";

constexpr const char* kVisitorContextPostgres = R"SQL(
ALTER TABLE conversations ADD COLUMN contact TEXT;
ALTER TABLE conversations ADD COLUMN page TEXT;
ALTER TABLE conversations ADD COLUMN referrer TEXT;
ALTER TABLE conversations ADD COLUMN language TEXT;
ALTER TABLE conversations ADD COLUMN offline INTEGER NOT NULL DEFAULT 0;
ALTER TABLE conversations ADD COLUMN helped INTEGER;
ALTER TABLE conversations ADD COLUMN rating_comment TEXT;
ALTER TABLE conversations ADD COLUMN page_gone INTEGER NOT NULL DEFAULT 0;
ALTER TABLE companies ADD COLUMN name TEXT;
)SQL";

// A company's ready answers, with a count of their changes that tells event streams, on any
// service, that they changed; the session that handed a conversation on to the company's other
// consoles, and when, so that it is not given it again at once.
constexpr const char* kReadyAnswersAndHandOnSqlite = R"SQL(
CREATE TABLE ready_answers (
    company_id INTEGER NOT NULL REFERENCES companies(id),
    shortcut TEXT NOT NULL,
    text TEXT NOT NULL,
    PRIMARY KEY (company_id, shortcut)
);
ALTER TABLE companies ADD COLUMN answers_version INTEGER NOT NULL DEFAULT 0;
ALTER TABLE conversations ADD COLUMN handed_from TEXT;
ALTER TABLE conversations ADD COLUMN handed_at INTEGER NOT NULL DEFAULT 0;
)SQL";

constexpr const char* kReadyAnswersAndHandOnPostgres = R"SQL(
CREATE TABLE ready_answers (
    company_id BIGINT NOT NULL REFERENCES companies(id),
    shortcut TEXT NOT NULL,
    text TEXT NOT NULL,
    PRIMARY KEY (company_id, shortcut)
);
ALTER TABLE companies ADD COLUMN answers_version BIGINT NOT NULL DEFAULT 0;
ALTER TABLE conversations ADD COLUMN handed_from TEXT;
ALTER TABLE conversations ADD COLUMN handed_at BIGINT NOT NULL DEFAULT 0;
)SQL";

constexpr std::array kSteps{
    SchemaStep{1, kFirstSqlite, kFirstPostgres},
    SchemaStep{2, kCountersAndRetentionSqlite, kCountersAndRetentionPostgres},
    SchemaStep{3, kVisitorsAndKnownAddressesSqlite, kVisitorsAndKnownAddressesPostgres},
    SchemaStep{4, kConversationOwnersSqlite, kConversationOwnersPostgres},
    SchemaStep{5, kVisitorContextSqlite, kVisitorContextPostgres},
    SchemaStep{6, kReadyAnswersAndHandOnSqlite, kReadyAnswersAndHandOnPostgres},
};

constexpr bool NumberedInOrder() {
    for (std::size_t i = 0; i < kSteps.size(); ++i) {
        if (kSteps[i].number != static_cast<std::int64_t>(i) + 1) return false;
    }
    return true;
}
static_assert(NumberedInOrder(), "schema steps are numbered 1, 2, 3... in their order");

// PostgreSQL databases were first counted by a list of three steps whose first was steps 1 and
// 2 above together.
constexpr std::int64_t kFormerPostgresSteps = 3;

}  // namespace

std::span<const SchemaStep> SchemaSteps() {
    return kSteps;
}

std::int64_t VersionInSteps(SqlEngine engine, std::int64_t stored) {
    // The steps always run to their end, so a PostgreSQL database never holds 1 to 3 in their
    // count; such a number is the former list's, one step behind.
    if (engine == SqlEngine::Postgres && stored >= 1 && stored <= kFormerPostgresSteps) {
        return stored + 1;
    }
    return stored;
}

}  // namespace tertulia
