#pragma once

#include <sqlite3.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
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

// A small pool of connections. Reads run side by side on snapshots; writes are taken one at a
// time in this process, so they never wait inside SQLite's busy handler.
class Database {
  public:
    Database(const std::string& path, std::size_t connections);

    template <class F>
    auto Read(F&& work) {
        return Transaction(work, "BEGIN");
    }
    template <class F>
    auto Write(F&& work) {
        std::lock_guard lock(writeMutex_);
        return Transaction(work, "BEGIN IMMEDIATE");
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

    template <class F>
    auto Transaction(F& work, const char* begin) {
        Lease lease(*this);
        Connection& connection = lease.connection();
        connection.Execute(begin);
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

    std::mutex writeMutex_;
    std::mutex poolMutex_;
    std::condition_variable poolChanged_;
    std::vector<std::unique_ptr<Connection>> idle_;
};

}  // namespace tertulia
