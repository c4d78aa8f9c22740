#pragma once

#include <libpq-fe.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "service/postgres_listener.h"
#include "service/sql_database.h"

namespace tertulia {

// One libpq connection, driven through libpq's asynchronous calls so that no wait for the server
// outlasts the transaction's deadline. Statements are prepared on it once and reused. The
// server's own time-outs (statement_timeout, lock_timeout) are set a little below the
// deadline, so that a stuck statement ends on the server too.
class PostgresConnection : public SqlConnection {
  public:
    // Connects by `deadline`; throws DatabaseUnavailable when it cannot.
    PostgresConnection(const std::string& uri, std::chrono::milliseconds timeout,
                       Deadline deadline);
    ~PostgresConnection() override;
    PostgresConnection(const PostgresConnection&) = delete;
    PostgresConnection& operator=(const PostgresConnection&) = delete;

    SqlRows Run(std::string_view sql, std::initializer_list<SqlValue> values) override;
    void Execute(const char* script) override;
    // A notification on the changes channel, which the server delivers at the commit.
    void Announce(const std::string& change) override;
    // The statements that follow wait for the server until then.
    void SetDeadline(Deadline deadline) { deadline_ = deadline; }
    // Ends a failed transaction; where even that fails the connection is no longer usable.
    void Rollback() noexcept;
    // False once the server went away or an answer was given up at the deadline: the
    // connection's state is unknown, so it is closed rather than used again.
    bool Usable() const;

  private:
    // The statement's result once `sent` (the send's outcome) is answered; throws on failure.
    PGresult* Await(bool sent);
    // Waits until the socket is ready for `events`; throws at the deadline.
    short WaitFor(short events);
    [[noreturn]] void Lost();

    PGconn* connection_ = nullptr;
    Deadline deadline_;
    bool broken_ = false;
    std::unordered_map<std::string, std::string> prepared_;  // statement text to its name
};

// A PostgreSQL database through libpq, at a connection URI. Every Read or Write is a
// transaction on a connection of a small pool, committed before it returns (the server's
// synchronous commit makes that durable); one the server aborts as a serialization failure
// or a deadlock is run again. A connection the server dropped (a restart) is made again, and
// its transaction run again once when nothing of it can have been committed. Services on other
// machines may share the database: what they must agree on is decided in it (row locks,
// sequences, an advisory lock for the schema).
class PostgresDatabase : public SqlDatabase {
  public:
    PostgresDatabase(const std::string& uri, std::chrono::milliseconds timeout,
                     std::size_t connections = 8);

    SqlEngine Engine() const override { return SqlEngine::Postgres; }
    void LockSchema(SqlConnection& connection) override;
    std::string Description() const override { return description_; }
    // Listens on a connection of its own (PostgresListener), which counts as made again each
    // time it listens anew.
    void WatchChanges(ChangeWatcher watcher) override;

  protected:
    void RunRead(const Work& work, Deadline deadline) override;
    void RunWrite(const Work& work, Deadline deadline) override;

  private:
    // A place in the pool, held for one transaction; its connection is made when it has none.
    class Lease {
      public:
        Lease(PostgresDatabase& database, Deadline deadline);
        ~Lease();
        PostgresConnection& Connection();
        // Closes the connection, so that the next Connection() makes a new one.
        void Replace() { connection_.reset(); }

      private:
        PostgresDatabase& database_;
        Deadline deadline_;
        std::unique_ptr<PostgresConnection> connection_;
    };

    void RunTransaction(const char* begin, const Work& work, Deadline deadline);

    std::string uri_;
    std::string description_;
    std::mutex poolMutex_;
    std::condition_variable poolChanged_;
    std::vector<std::unique_ptr<PostgresConnection>> idle_;  // null where none is made yet
    std::unique_ptr<PostgresListener> listener_;
};

// The URI as messages show it: the user, host, port and database, never the password.
std::string DescribePostgresUri(const std::string& uri);

}  // namespace tertulia
