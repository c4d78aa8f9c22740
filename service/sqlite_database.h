#pragma once

#include <sqlite3.h>

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>
#include <unordered_map>
#include <vector>

namespace tertulia {

// A prepared statement borrowed from its connection's cache; reset when it goes out of scope.
// Values only ever reach SQL through Bind.
class Statement {
  public:
    Statement(sqlite3* db, sqlite3_stmt* statement) : db_(db), statement_(statement) {}
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int index, std::int64_t value);
    Statement& Bind(int index, std::string_view value);
    // True while a row is available; false when the statement is done. Failures throw.
    bool Step();
    std::int64_t Int(int column) const;
    std::string Text(int column) const;

  private:
    sqlite3* db_;
    sqlite3_stmt* statement_;
};

// One SQLite connection in WAL mode with full synchronisation, so that a committed transaction
// survives the process being killed.
class Connection {
  public:
    explicit Connection(const std::string& path);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void Execute(const char* sql);
    // Ends a failed transaction; SQLite may have rolled it back already.
    void Rollback() noexcept;
    Statement Prepare(const char* sql);

  private:
    sqlite3* db_ = nullptr;
    std::unordered_map<std::string, sqlite3_stmt*> cache_;
};

// Writes go to one writer thread that commits whatever has queued up as one transaction, each
// write in its own savepoint, so that a busy service pays one disk flush for many writes and a
// write never waits inside SQLite's busy handler. A write returns only after its commit. Reads
// use a small pool of connections and run side by side on snapshots.
class Database {
  public:
    Database(const std::string& path, std::size_t readers);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    template <class F>
    auto Read(F&& work) {
        Lease lease(*this);
        Connection& connection = lease.connection();
        connection.Execute("BEGIN");
        try {
            if constexpr (std::is_void_v<decltype(work(connection))>) {
                work(connection);
                connection.Execute("COMMIT");
            } else {
                auto result = work(connection);
                connection.Execute("COMMIT");
                return result;
            }
        } catch (...) {
            connection.Rollback();
            throw;
        }
    }

    // Runs `work` on the writer's connection; its result or its exception comes back here.
    template <class F>
    auto Write(F&& work) {
        using Result = decltype(work(std::declval<Connection&>()));
        if constexpr (std::is_void_v<Result>) {
            Submit([&](Connection& connection) { work(connection); });
        } else {
            std::optional<Result> result;
            Submit([&](Connection& connection) { result.emplace(work(connection)); });
            return std::move(*result);
        }
    }

  private:
    class Lease {
      public:
        explicit Lease(Database& database);
        ~Lease();
        Connection& connection() { return *connection_; }

      private:
        Database& database_;
        std::unique_ptr<Connection> connection_;
    };

    struct WriteJob;

    // Queues the work and waits until it is committed; rethrows its failure.
    void Submit(const std::function<void(Connection&)>& work);
    void WriterLoop();

    std::unique_ptr<Connection> writer_;
    std::mutex queueMutex_;
    std::condition_variable queueChanged_;
    std::vector<WriteJob*> queue_;
    bool stopping_ = false;
    std::thread writerThread_;

    std::mutex poolMutex_;
    std::condition_variable poolChanged_;
    std::vector<std::unique_ptr<Connection>> idle_;
};

}  // namespace tertulia
