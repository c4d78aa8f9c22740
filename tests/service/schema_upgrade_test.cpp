#include <gtest/gtest.h>

#include "direct_connection.h"
#include "fresh_database.h"
#include "service/schema_steps.h"
#include "service/secrets.h"

namespace tertulia::testing {
namespace {

// The first schema that released services made on PostgreSQL, before its steps were counted as
// SQLite's: its version 1 is the steps' 2.
constexpr const char* kReleasedFirstPostgres = R"SQL(
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
CREATE INDEX operator_sessions_last_seen ON operator_sessions(last_seen);
CREATE TABLE conversations (
    id INTEGER GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    company_id BIGINT NOT NULL REFERENCES companies(id),
    visitor_name TEXT NOT NULL,
    token_hash TEXT NOT NULL,
    open INTEGER NOT NULL,
    opened_at BIGINT NOT NULL,
    line_count INTEGER NOT NULL DEFAULT 0,
    byte_count BIGINT NOT NULL DEFAULT 0,
    visitor_lines INTEGER NOT NULL DEFAULT 0,
    closed_at BIGINT
);
CREATE INDEX conversations_open ON conversations(company_id, open, id);
CREATE INDEX conversations_closed ON conversations(open, closed_at);
CREATE TABLE messages (
    id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    conversation_id INTEGER NOT NULL REFERENCES conversations(id),
    from_operator INTEGER NOT NULL,
    text TEXT NOT NULL,
    sent_at BIGINT NOT NULL
);
CREATE INDEX messages_of_conversation ON messages(conversation_id, id);
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

// The steps' version of a database that a released service left at `released` of its own count.
std::int64_t InSteps(Backend backend, std::int64_t released) {
    return VersionInSteps(backend == Backend::Postgres ? SqlEngine::Postgres : SqlEngine::Sqlite,
                          released);
}

// A database as a released service left it at `released`, with a company whose password's
// digest text is "DIGEST", the open conversation of "Ana" (token "ficha") with a line of each
// side, and the closed one of "Eva".
void BuildReleased(Backend backend, const std::string& location, std::int64_t released) {
    DirectConnection db(backend, location);
    if (backend == Backend::Postgres) {
        ASSERT_TRUE(db.Run(kReleasedFirstPostgres));
    }
    const SqlEngine engine = backend == Backend::Sqlite ? SqlEngine::Sqlite : SqlEngine::Postgres;
    for (const SchemaStep& step : SchemaSteps()) {
        const bool inFirst = backend == Backend::Postgres && step.number <= 2;
        if (!inFirst && step.number <= InSteps(backend, released)) {
            ASSERT_TRUE(db.Run(step.For(engine))) << step.number;
        }
    }
    const PasswordHash hash = HashDigestText("DIGEST");
    const std::string data =
        "CREATE TABLE service_state (name TEXT PRIMARY KEY, value BIGINT NOT NULL);"
        "INSERT INTO service_state VALUES ('schema_version', " +
        std::to_string(released) +
        ");"
        "INSERT INTO companies (code, salt, iterations, hash) VALUES ('demo', '" +
        hash.salt + "', " + std::to_string(hash.iterations) + ", '" + hash.hash +
        "');"
        "INSERT INTO conversations (company_id, visitor_name, token_hash, open, opened_at) "
        "SELECT id, 'Ana', '" +
        Sha256Hex("ficha") +
        "', 1, 100 FROM companies;"
        "INSERT INTO conversations (company_id, visitor_name, token_hash, open, opened_at) "
        "SELECT id, 'Eva', 'x', 0, 100 FROM companies;"
        "INSERT INTO messages (conversation_id, from_operator, text, sent_at) "
        "SELECT id, 0, 'ñu', 101 FROM conversations WHERE visitor_name = 'Ana';"
        "INSERT INTO messages (conversation_id, from_operator, text, sent_at) "
        "SELECT id, 1, 'sí', 102 FROM conversations WHERE visitor_name = 'Ana';";
    ASSERT_TRUE(db.Run(data.c_str()));
    // The counters that a service keeping them kept.
    if (InSteps(backend, released) >= 2) {
        ASSERT_TRUE(
            db.Run("UPDATE conversations SET line_count = 2, byte_count = 6, visitor_lines = 1 "
                   "WHERE visitor_name = 'Ana';"
                   "UPDATE conversations SET closed_at = 100 WHERE visitor_name = 'Eva'"));
    }
}

// The tables' columns in order, with their types, nullability and defaults, and the indexes.
std::string SchemaOf(Backend backend, const std::string& location) {
    DirectConnection db(backend, location);
    if (backend == Backend::Sqlite) {
        return db.Lines(
                   "SELECT m.name || '.' || p.name || ' ' || p.type || ' ' || p.\"notnull\" || ' "
                   "' || coalesce(p.dflt_value, '') FROM sqlite_master m, "
                   "pragma_table_info(m.name) "
                   "p WHERE m.type = 'table' AND m.name NOT LIKE 'sqlite_%' ORDER BY m.name, "
                   "p.cid") +
               db.Lines("SELECT name FROM sqlite_master WHERE type = 'index' ORDER BY name");
    }
    return db.Lines(
               "SELECT table_name || '.' || column_name || ' ' || data_type || ' ' || is_nullable "
               "|| ' ' || coalesce(column_default, '') FROM information_schema.columns WHERE "
               "table_schema = current_schema() ORDER BY table_name, ordinal_position") +
           db.Lines(
               "SELECT indexname FROM pg_indexes WHERE schemaname = current_schema() ORDER BY "
               "indexname");
}

// The names of the tables' columns and of the indexes that the steps make, which both engines
// share.
std::string NamesOf(Backend backend, const std::string& location) {
    DirectConnection db(backend, location);
    if (backend == Backend::Sqlite) {
        return db.Lines(
                   "SELECT m.name || '.' || p.name FROM sqlite_master m, pragma_table_info(m.name) "
                   "p WHERE m.type = 'table' AND m.name NOT LIKE 'sqlite_%' ORDER BY m.name, "
                   "p.cid") +
               db.Lines(
                   "SELECT name FROM sqlite_master WHERE type = 'index' AND name NOT LIKE "
                   "'sqlite_%' ORDER BY name");
    }
    return db.Lines(
               "SELECT table_name || '.' || column_name FROM information_schema.columns WHERE "
               "table_schema = current_schema() ORDER BY table_name, ordinal_position") +
           db.Lines(
               "SELECT indexname FROM pg_indexes WHERE schemaname = current_schema() AND "
               "indexname NOT LIKE '%\\_pkey' AND indexname NOT LIKE '%\\_key' ORDER BY indexname");
}

std::int64_t SchemaVersion(Backend backend, const std::string& location) {
    return DirectConnection(backend, location)
        .Number("SELECT value FROM service_state WHERE name = 'schema_version'");
}

class SchemaUpgrade : public ::testing::TestWithParam<Backend> {};

// Every version that a released service left on the engine (versions counted as each engine
// counted them then) opens with all it held and ends with the tables of a new database.
TEST_P(SchemaUpgrade, a_database_of_every_earlier_version_upgrades_with_nothing_lost) {
    const Backend backend = GetParam();
    FreshDatabase fresh(backend);
    if (!fresh.Skip().empty()) GTEST_SKIP() << fresh.Skip();
    Storage::Open(fresh.location(), {});
    const std::int64_t latest = SchemaSteps().back().number;
    const std::int64_t newest = backend == Backend::Postgres ? latest - 1 : latest;
    for (std::int64_t released = 1; released <= newest; ++released) {
        SCOPED_TRACE("version " + std::to_string(released));
        FreshDatabase database(backend);
        BuildReleased(backend, database.location(), released);
        if (::testing::Test::HasFatalFailure()) return;

        const auto storage = Storage::Open(database.location(), {});
        EXPECT_EQ(SchemaVersion(backend, database.location()), latest);
        EXPECT_EQ(SchemaOf(backend, database.location()), SchemaOf(backend, fresh.location()));
        const auto session = storage->sessions.Login("demo", "DIGEST");
        ASSERT_TRUE(session);
        const std::int64_t company = *storage->sessions.SessionCompany("demo", *session);
        const auto open = storage->conversations.OpenConversations(company);
        ASSERT_EQ(open.size(), 1u);
        EXPECT_EQ(open[0].visitorName, "Ana");
        EXPECT_EQ(open[0].visitorLines, 1);
        const auto lines = storage->conversations.Messages(open[0].id);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0].text, "ñu");
        EXPECT_TRUE(lines[1].fromOperator);
        EXPECT_EQ(storage->conversations.AddVisitorLine(open[0].id, "ficha", "x", {3, 7}),
                  LineResult::Stored);
        EXPECT_EQ(storage->conversations.AddVisitorLine(open[0].id, "ficha", "y", {4, 7}),
                  LineResult::Full)
            << "6 bytes were there before";
        // Companies from before conversations had owners keep every conversation in every
        // console.
        constexpr std::int64_t kOwnersStep = 4;
        const bool before = InSteps(backend, released) < kOwnersStep;
        EXPECT_EQ(storage->companies.CompanyOptions("demo"),
                  (std::vector<std::string>{before ? "reparto=todos" : "reparto=uno"}));
        // The closed conversation counts as closed since before the retention of 30 days.
        EXPECT_EQ(storage->retention.RemoveExpired(30 * 24 * 3600, 100), 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, SchemaUpgrade,
                         ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return std::string(BackendName(info.param)); });

TEST(Schema, a_new_database_has_the_same_version_and_tables_on_both_engines) {
    FreshDatabase sqlite(Backend::Sqlite);
    FreshDatabase postgres(Backend::Postgres);
    if (!postgres.Skip().empty()) GTEST_SKIP() << postgres.Skip();
    Storage::Open(sqlite.location(), {});
    Storage::Open(postgres.location(), {});
    EXPECT_EQ(SchemaVersion(Backend::Sqlite, sqlite.location()), SchemaSteps().back().number);
    EXPECT_EQ(SchemaVersion(Backend::Postgres, postgres.location()), SchemaSteps().back().number);
    const std::string names = NamesOf(Backend::Sqlite, sqlite.location());
    for (const char* name : {"conversations.owner_session\n", "conversations.handed_from\n",
                             "ready_answers.shortcut\n", "companies.answers_version\n"}) {
        EXPECT_NE(names.find(name), std::string::npos) << names;
    }
    EXPECT_EQ(names, NamesOf(Backend::Postgres, postgres.location()));
}

}  // namespace
}  // namespace tertulia::testing
