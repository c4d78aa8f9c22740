#include "service/sqlite_database.h"

#include <chrono>
#include <exception>
#include <stdexcept>
#include <thread>

namespace tertulia {

namespace {

[[noreturn]] void Fail(sqlite3* db) {
    throw std::runtime_error(std::string("SQLite: ") + sqlite3_errmsg(db));
}

// The schema in its versions. The first is the schema of the service before versions were
// kept, so an older file takes every step after it.
const char* const kFirstSchema = R"SQL(
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

// Counters of each conversation, kept with every line, for the caps and the news; when it was
// closed, for retention (an older closed conversation counts as closed after its last line);
// failed logins shared by every service on the database; the sites allowed to show a company's
// visitor page in a frame (which a file from before versions may hold already).
const char* const kCountersAndRetention = R"SQL(
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

// When each conversation's visitor was last heard from (an older open conversation counts as
// heard from at the upgrade), so that silent ones are closed; the client networks that logged in
// to each company, which the company's failed-login wait leaves alone.
const char* const kVisitorsAndKnownAddresses = R"SQL(
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

}  // namespace

SqliteConnection::SqliteConnection(const std::string& path) {
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        throw std::runtime_error("SQLite: " + path + ": " + message);
    }
    try {
        sqlite3_busy_timeout(db_, 10000);
        // Switching a new file to WAL takes a lock that SQLite does not wait for: another
        // process opening the same new file at this moment makes it fail at once.
        for (int tries = 0;; ++tries) {
            const int result =
                sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
            if (result == SQLITE_OK) break;
            if ((result != SQLITE_BUSY && result != SQLITE_LOCKED) || tries == 500) Fail(db_);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        Execute("PRAGMA synchronous=FULL");
        Execute("PRAGMA foreign_keys=ON");
    } catch (...) {
        sqlite3_close(db_);
        throw;
    }
}

SqliteConnection::~SqliteConnection() {
    for (auto& [sql, statement] : cache_) sqlite3_finalize(statement);
    sqlite3_close(db_);
}

void SqliteConnection::Execute(const char* script) {
    if (sqlite3_exec(db_, script, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(db_);
}

void SqliteConnection::Rollback() noexcept {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

SqlRows SqliteConnection::Run(std::string_view sql, std::initializer_list<SqlValue> values) {
    auto it = cache_.find(std::string(sql));
    if (it == cache_.end()) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()),
                               SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK) {
            Fail(db_);
        }
        it = cache_.emplace(std::string(sql), statement).first;
    }
    sqlite3_stmt* statement = it->second;
    // Reset however the statement ends, so that it holds no snapshot or lock afterwards.
    const std::unique_ptr<sqlite3_stmt, void (*)(sqlite3_stmt*)> reset(
        statement, [](sqlite3_stmt* s) {
            sqlite3_reset(s);
            sqlite3_clear_bindings(s);
        });
    int index = 1;
    for (const SqlValue& value : values) {
        int result = SQLITE_OK;
        if (const auto* number = std::get_if<std::int64_t>(&value)) {
            result = sqlite3_bind_int64(statement, index, *number);
        } else {
            const std::string_view text = std::get<std::string_view>(value);
            result = sqlite3_bind_text64(statement, index, text.data(), text.size(),
                                         SQLITE_TRANSIENT, SQLITE_UTF8);
        }
        if (result != SQLITE_OK) Fail(db_);
        ++index;
    }
    SqlRows rows;
    const int columns = sqlite3_column_count(statement);
    for (;;) {
        const int result = sqlite3_step(statement);
        if (result == SQLITE_DONE) break;
        if (result != SQLITE_ROW) Fail(db_);
        std::vector<std::string> row;
        row.reserve(columns);
        for (int column = 0; column < columns; ++column) {
            const auto* text =
                reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
            row.emplace_back(text ? std::string(text, sqlite3_column_bytes(statement, column))
                                  : std::string());
        }
        rows.Add(std::move(row));
    }
    return rows;
}

struct SqliteDatabase::WriteJob {
    const std::function<void(SqlConnection&)>& work;
    std::exception_ptr failure{};
    bool done = false;
    std::condition_variable finished{};
};

SqliteDatabase::SqliteDatabase(const std::string& path, std::size_t readers)
    : path_(path), writer_(std::make_unique<SqliteConnection>(path)) {
    for (std::size_t i = 0; i < readers; ++i) {
        idle_.push_back(std::make_unique<SqliteConnection>(path));
    }
    writerThread_ = std::thread([this] { WriterLoop(); });
}

SqliteDatabase::~SqliteDatabase() {
    {
        std::lock_guard lock(queueMutex_);
        stopping_ = true;
    }
    queueChanged_.notify_all();
    writerThread_.join();
}

std::vector<const char*> SqliteDatabase::SchemaSteps() const {
    return {kFirstSchema, kCountersAndRetention, kVisitorsAndKnownAddresses};
}

void SqliteDatabase::RunRead(const std::function<void(SqlConnection&)>& work) {
    Lease lease(*this);
    SqliteConnection& connection = lease.connection();
    connection.Execute("BEGIN");
    try {
        work(connection);
        connection.Execute("COMMIT");
    } catch (...) {
        connection.Rollback();
        throw;
    }
}

void SqliteDatabase::RunWrite(const std::function<void(SqlConnection&)>& work) {
    WriteJob job{work};
    std::unique_lock lock(queueMutex_);
    queue_.push_back(&job);
    queueChanged_.notify_all();
    job.finished.wait(lock, [&] { return job.done; });
    if (job.failure) std::rethrow_exception(job.failure);
}

void SqliteDatabase::WriterLoop() {
    std::unique_lock lock(queueMutex_);
    for (;;) {
        queueChanged_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        std::vector<WriteJob*> batch;
        batch.swap(queue_);
        lock.unlock();

        SqliteConnection& db = *writer_;
        try {
            db.Execute("BEGIN IMMEDIATE");
            for (WriteJob* job : batch) {
                db.Execute("SAVEPOINT job");
                try {
                    job->work(db);
                    db.Execute("RELEASE job");
                } catch (...) {
                    job->failure = std::current_exception();
                    db.Execute("ROLLBACK TO job");
                    db.Execute("RELEASE job");
                }
            }
            db.Execute("COMMIT");
        } catch (...) {
            // The transaction as a whole failed: none of the batch was stored.
            db.Rollback();
            for (WriteJob* job : batch) job->failure = std::current_exception();
        }

        lock.lock();
        for (WriteJob* job : batch) {
            job->done = true;
            job->finished.notify_one();
        }
    }
}

SqliteDatabase::Lease::Lease(SqliteDatabase& database) : database_(database) {
    std::unique_lock lock(database_.poolMutex_);
    database_.poolChanged_.wait(lock, [&] { return !database_.idle_.empty(); });
    connection_ = std::move(database_.idle_.back());
    database_.idle_.pop_back();
}

SqliteDatabase::Lease::~Lease() {
    {
        std::lock_guard lock(database_.poolMutex_);
        database_.idle_.push_back(std::move(connection_));
    }
    database_.poolChanged_.notify_one();
}

}  // namespace tertulia
