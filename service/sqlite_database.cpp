#include "service/sqlite_database.h"

#include <chrono>
#include <stdexcept>
#include <thread>

namespace tertulia {

namespace {

[[noreturn]] void Fail(sqlite3* db) {
    throw std::runtime_error(std::string("SQLite: ") + sqlite3_errmsg(db));
}

}  // namespace

Statement::~Statement() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
}

Statement& Statement::Bind(int index, std::int64_t value) {
    if (sqlite3_bind_int64(statement_, index, value) != SQLITE_OK) Fail(db_);
    return *this;
}

Statement& Statement::Bind(int index, std::string_view value) {
    if (sqlite3_bind_text64(statement_, index, value.data(), value.size(), SQLITE_TRANSIENT,
                            SQLITE_UTF8) != SQLITE_OK) {
        Fail(db_);
    }
    return *this;
}

bool Statement::Step() {
    const int result = sqlite3_step(statement_);
    if (result == SQLITE_ROW) return true;
    if (result == SQLITE_DONE) return false;
    Fail(db_);
}

std::int64_t Statement::Int(int column) const {
    return sqlite3_column_int64(statement_, column);
}

std::string Statement::Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    return text ? std::string(text, sqlite3_column_bytes(statement_, column)) : std::string();
}

Connection::Connection(const std::string& path) {
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

Connection::~Connection() {
    for (auto& [sql, statement] : cache_) sqlite3_finalize(statement);
    sqlite3_close(db_);
}

void Connection::Execute(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(db_);
}

void Connection::Rollback() noexcept {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

Statement Connection::Prepare(const char* sql) {
    auto it = cache_.find(sql);
    if (it == cache_.end()) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) !=
            SQLITE_OK) {
            Fail(db_);
        }
        it = cache_.emplace(sql, statement).first;
    }
    return Statement(db_, it->second);
}

struct Database::WriteJob {
    const std::function<void(Connection&)>& work;
    std::exception_ptr failure{};
    bool done = false;
    std::condition_variable finished{};
};

Database::Database(const std::string& path, std::size_t readers)
    : writer_(std::make_unique<Connection>(path)) {
    for (std::size_t i = 0; i < readers; ++i) {
        idle_.push_back(std::make_unique<Connection>(path));
    }
    writerThread_ = std::thread([this] { WriterLoop(); });
}

Database::~Database() {
    {
        std::lock_guard lock(queueMutex_);
        stopping_ = true;
    }
    queueChanged_.notify_all();
    writerThread_.join();
}

void Database::Submit(const std::function<void(Connection&)>& work) {
    WriteJob job{work};
    std::unique_lock lock(queueMutex_);
    queue_.push_back(&job);
    queueChanged_.notify_all();
    job.finished.wait(lock, [&] { return job.done; });
    if (job.failure) std::rethrow_exception(job.failure);
}

void Database::WriterLoop() {
    std::unique_lock lock(queueMutex_);
    for (;;) {
        queueChanged_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        std::vector<WriteJob*> batch;
        batch.swap(queue_);
        lock.unlock();

        Connection& db = *writer_;
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

Database::Lease::Lease(Database& database) : database_(database) {
    std::unique_lock lock(database_.poolMutex_);
    database_.poolChanged_.wait(lock, [&] { return !database_.idle_.empty(); });
    connection_ = std::move(database_.idle_.back());
    database_.idle_.pop_back();
}

Database::Lease::~Lease() {
    {
        std::lock_guard lock(database_.poolMutex_);
        database_.idle_.push_back(std::move(connection_));
    }
    database_.poolChanged_.notify_one();
}

}  // namespace tertulia
