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
    // Counted from the opening, so that another process's write in the first second is noticed.
    dataVersion_ = writer_->Run("PRAGMA data_version", {}).Int(0, 0);
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
    const bool changed = version != dataVersion_;
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
