#pragma once

#include <sqlite3.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "service/sql_database.h"

namespace tertulia {

// One SQLite connection in WAL mode with full synchronisation, so that a committed transaction
// survives the process being killed. Prepared statements are kept for reuse. A statement that
// finds the database locked by another process past the busy time-out throws
// DatabaseUnavailable.
class SqliteConnection : public SqlConnection {
  public:
    SqliteConnection(const std::string& path, std::chrono::milliseconds busyTimeout);
    ~SqliteConnection() override;
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    SqlRows Run(std::string_view sql, std::initializer_list<SqlValue> values) override;
    void Execute(const char* script) override;
    // Ends a failed transaction; SQLite may have rolled it back already.
    void Rollback() noexcept;
    // How long a statement waits for another process's lock: until the deadline.
    void WaitUntil(Deadline deadline);
    // Kept until the transaction's outcome is known (see SqliteDatabase).
    void Announce(const std::string& change) override { announced_.push_back(change); }
    std::vector<std::string>& Announced() { return announced_; }

  private:
    sqlite3* db_ = nullptr;
    std::vector<std::string> announced_;
    std::unordered_map<std::string, sqlite3_stmt*> cache_;
};

// An SQLite file. Writes go to one writer thread that commits whatever has queued up as one
// transaction, each write in its own savepoint, so that a busy service pays one disk flush for
// many writes and a write never waits inside SQLite's busy handler. A write returns only after
// its commit. Reads use a small pool of connections and run side by side on snapshots. A write
// still queued at its deadline leaves the queue; one whose deadline passes while another process
// holds the write lock fails, and the rest of its batch waits on. Changes are told to the
// watcher after their commit; another process's writes are noticed within a second (SQLite's
// data version), and tell the watcher that any change may have happened. The write-ahead log is
// copied back into the database by a thread of its own, never inside a writer's commit, so
// that no write waits for it.
class SqliteDatabase : public SqlDatabase {
  public:
    SqliteDatabase(const std::string& path, std::chrono::milliseconds timeout,
                   std::size_t readers = 8);
    ~SqliteDatabase() override;

    SqlEngine Engine() const override { return SqlEngine::Sqlite; }
    // The writer's transaction holds SQLite's write lock from its start.
    void LockSchema(SqlConnection&) override {}
    std::string Description() const override { return path_; }
    void WatchChanges(ChangeWatcher watcher) override;

  protected:
    void RunRead(const Work& work, Deadline deadline) override;
    void RunWrite(const Work& work, Deadline deadline) override;

  private:
    class Lease {
      public:
        Lease(SqliteDatabase& database, Deadline deadline);
        ~Lease();
        SqliteConnection& connection() { return *connection_; }

      private:
        SqliteDatabase& database_;
        std::unique_ptr<SqliteConnection> connection_;
    };

    struct WriteJob;

    void WriterLoop();
    void RunBatch(const std::vector<WriteJob*>& batch);
    // The committed changes of the batch to the watcher.
    void Tell(std::vector<std::string> changes);
    // Tells the watcher when another process has written since the last look.
    void NoticeOtherWriters();
    void CheckpointLoop();

    std::string path_;
    std::unique_ptr<SqliteConnection> writer_;
    std::mutex queueMutex_;
    std::condition_variable queueChanged_;
    std::vector<WriteJob*> queue_;
    bool stopping_ = false;
    std::thread writerThread_;
    std::unique_ptr<SqliteConnection> checkpointer_;
    std::condition_variable checkpointWait_;  // with queueMutex_, for the stop
    std::thread checkpointThread_;

    std::mutex watcherMutex_;  // held while the watcher is called
    ChangeWatcher watcher_;
    std::int64_t dataVersion_ = 0;

    std::mutex poolMutex_;
    std::condition_variable poolChanged_;
    std::vector<std::unique_ptr<SqliteConnection>> idle_;
};

}  // namespace tertulia
