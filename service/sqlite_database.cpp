#include "service/sqlite_database.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <stdexcept>
#include <thread>

namespace tertulia {

namespace {

[[noreturn]] void Fail(sqlite3* db) {
    const std::string message = std::string("SQLite: ") + sqlite3_errmsg(db);
    // Another process held the lock past the busy time-out.
    if ((sqlite3_errcode(db) & 0xFF) == SQLITE_BUSY) throw DatabaseUnavailable(message);
    throw std::runtime_error(message);
}

std::chrono::milliseconds Left(Deadline deadline) {
    return std::max(std::chrono::milliseconds(0), std::chrono::ceil<std::chrono::milliseconds>(
                                                      deadline - std::chrono::steady_clock::now()));
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

// Each open conversation of a company whose visitors are answered by one console belongs to the
// operator session that first listed or asked for it, and passes to the next session of the same
// console program; companies registered before that rule keep seeing every conversation in every
// console until their administrator says otherwise.
const char* const kConversationOwners = R"SQL(
ALTER TABLE conversations ADD COLUMN owner_session TEXT;
ALTER TABLE conversations ADD COLUMN owner_seen INTEGER NOT NULL DEFAULT 0;
CREATE INDEX conversations_owner ON conversations(owner_session);
ALTER TABLE operator_sessions ADD COLUMN console TEXT;
ALTER TABLE companies ADD COLUMN reparto TEXT NOT NULL DEFAULT 'uno';
UPDATE companies SET reparto = 'todos';
)SQL";

}  // namespace

SqliteConnection::SqliteConnection(const std::string& path, std::chrono::milliseconds busyTimeout) {
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        throw std::runtime_error("SQLite: " + path + ": " + message);
    }
    try {
        const Deadline deadline = std::chrono::steady_clock::now() + busyTimeout;
        WaitUntil(deadline);
        // Switching a new file to WAL takes a lock that SQLite does not wait for: another
        // process opening the same new file at this moment makes it fail at once.
        for (;;) {
            const int result =
                sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
            if (result == SQLITE_OK) break;
            if ((result != SQLITE_BUSY && result != SQLITE_LOCKED) ||
                std::chrono::steady_clock::now() >= deadline) {
                Fail(db_);
            }
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

void SqliteConnection::WaitUntil(Deadline deadline) {
    sqlite3_busy_timeout(db_, static_cast<int>(Left(deadline).count()));
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
    Deadline deadline;
    std::exception_ptr failure{};
    bool started = false;  // taken by the writer, which alone ends it then
    bool again = false;    // to wait for the write lock once more
    bool done = false;
    std::condition_variable finished{};
};

SqliteDatabase::SqliteDatabase(const std::string& path, std::chrono::milliseconds timeout,
                               std::size_t readers)
    : SqlDatabase(timeout),
      path_(path),
      writer_(std::make_unique<SqliteConnection>(path, timeout)),
      checkpointer_(std::make_unique<SqliteConnection>(path, timeout)) {
    // A commit that passes the log's threshold would copy the log back itself, with every write
    // queued behind it waiting.
    writer_->Execute("PRAGMA wal_autocheckpoint=0");
    for (std::size_t i = 0; i < readers; ++i) {
        idle_.push_back(std::make_unique<SqliteConnection>(path, timeout));
    }
    writerThread_ = std::thread([this] { WriterLoop(); });
    checkpointThread_ = std::thread([this] { CheckpointLoop(); });
}

SqliteDatabase::~SqliteDatabase() {
    {
        std::lock_guard lock(queueMutex_);
        stopping_ = true;
    }
    queueChanged_.notify_all();
    checkpointWait_.notify_all();
    writerThread_.join();
    checkpointThread_.join();
}

std::vector<const char*> SqliteDatabase::SchemaSteps() const {
    return {kFirstSchema, kCountersAndRetention, kVisitorsAndKnownAddresses, kConversationOwners};
}

void SqliteDatabase::RunRead(const Work& work, Deadline deadline) {
    Lease lease(*this, deadline);
    SqliteConnection& connection = lease.connection();
    connection.WaitUntil(deadline);
    connection.Execute("BEGIN");
    try {
        work(connection);
        connection.Execute("COMMIT");
    } catch (...) {
        connection.Rollback();
        throw;
    }
}

void SqliteDatabase::RunWrite(const Work& work, Deadline deadline) {
    WriteJob job{work, deadline};
    std::unique_lock lock(queueMutex_);
    queue_.push_back(&job);
    queueChanged_.notify_all();
    while (!job.done) {
        if (!job.finished.wait_until(lock, job.deadline, [&] { return job.done || job.started; })) {
            std::erase(queue_, &job);
            throw DatabaseUnavailable("SQLite: la escritura no ha empezado a tiempo");
        }
        // Taken by the writer, which waits for the lock no longer than the deadline, and may
        // queue it again to wait once more.
        job.finished.wait(lock, [&] { return job.done || !job.started; });
    }
    if (job.failure) std::rethrow_exception(job.failure);
}

void SqliteDatabase::WriterLoop() {
    std::unique_lock lock(queueMutex_);
    for (;;) {
        if (!queueChanged_.wait_for(lock, std::chrono::seconds(1),
                                    [&] { return stopping_ || !queue_.empty(); })) {
            lock.unlock();
            NoticeOtherWriters();
            lock.lock();
            continue;
        }
        if (queue_.empty()) return;
        std::vector<WriteJob*> batch;
        batch.swap(queue_);
        for (WriteJob* job : batch) job->started = true;
        lock.unlock();

        RunBatch(batch);

        lock.lock();
        // The writes to wait for the lock again go first, in their order.
        for (auto job = batch.rbegin(); job != batch.rend(); ++job) {
            if ((*job)->again) {
                (*job)->again = false;
                (*job)->started = false;
                queue_.insert(queue_.begin(), *job);
            } else {
                (*job)->done = true;
            }
            (*job)->finished.notify_one();
        }
    }
}

void SqliteDatabase::RunBatch(const std::vector<WriteJob*>& batch) {
    SqliteConnection& db = *writer_;
    std::vector<std::string>& announced = db.Announced();
    announced.clear();
    // The write lock is awaited as long as the batch's most hurried write allows.
    Deadline first = batch.front()->deadline;
    for (const WriteJob* job : batch) first = std::min(first, job->deadline);
    db.WaitUntil(first);
    try {
        db.Execute("BEGIN IMMEDIATE");
    } catch (const DatabaseUnavailable&) {
        const auto now = std::chrono::steady_clock::now();
        for (WriteJob* job : batch) {
            job->again = job->deadline > now;
            if (!job->again) job->failure = std::current_exception();
        }
        return;
    } catch (...) {
        for (WriteJob* job : batch) job->failure = std::current_exception();
        return;
    }
    try {
        for (WriteJob* job : batch) {
            db.Execute("SAVEPOINT job");
            const std::size_t told = announced.size();
            try {
                job->work(db);
                db.Execute("RELEASE job");
            } catch (...) {
                job->failure = std::current_exception();
                announced.resize(told);
                db.Execute("ROLLBACK TO job");
                db.Execute("RELEASE job");
            }
        }
        db.Execute("COMMIT");
        Tell(std::move(announced));
        announced.clear();
    } catch (...) {
        // The transaction as a whole failed: none of the batch was stored.
        announced.clear();
        db.Rollback();
        for (WriteJob* job : batch) job->failure = std::current_exception();
    }
}

void SqliteDatabase::CheckpointLoop() {
    std::unique_lock lock(queueMutex_);
    while (!checkpointWait_.wait_for(lock, std::chrono::seconds(1), [&] { return stopping_; })) {
        lock.unlock();
        // Passive: it copies what no reader still needs and waits for no lock, so writes and
        // reads go on meanwhile; the writer starts the log over once all of it is copied.
        try {
            checkpointer_->Execute("PRAGMA wal_checkpoint(PASSIVE)");
        } catch (const std::exception&) {
            // Another process checkpointing meanwhile: the next second tries again.
        }
        lock.lock();
    }
}

void SqliteDatabase::WatchChanges(ChangeWatcher watcher) {
    std::lock_guard lock(watcherMutex_);
    watcher_ = std::move(watcher);
}

void SqliteDatabase::Tell(std::vector<std::string> changes) {
    if (changes.empty()) return;
    std::lock_guard lock(watcherMutex_);
    if (!watcher_.changed) return;
    for (const std::string& change : changes) watcher_.changed(change);
}

void SqliteDatabase::NoticeOtherWriters() {
    // The writer's own commits leave its data version as it is: a change is another
    // connection's, that is, another process's.
    std::int64_t version = 0;
    try {
        version = writer_->Run("PRAGMA data_version", {}).Int(0, 0);
    } catch (const std::exception&) {
        return;
    }
    const bool changed = dataVersion_ >= 0 && version != dataVersion_;
    dataVersion_ = version;
    if (!changed) return;
    std::lock_guard lock(watcherMutex_);
    if (watcher_.unknown) watcher_.unknown();
}

SqliteDatabase::Lease::Lease(SqliteDatabase& database, Deadline deadline) : database_(database) {
    std::unique_lock lock(database_.poolMutex_);
    if (!database_.poolChanged_.wait_until(lock, deadline,
                                           [&] { return !database_.idle_.empty(); })) {
        throw DatabaseUnavailable("SQLite: ninguna conexión libre a tiempo");
    }
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
