#pragma once

#include <libpq-fe.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "service/sql_database.h"

namespace tertulia {

// One libpq connection. Statements are prepared on it once and reused; a connection that the
// server dropped is made again before its next transaction.
class PostgresConnection : public SqlConnection {
  public:
    explicit PostgresConnection(const std::string& uri);
    ~PostgresConnection() override;
    PostgresConnection(const PostgresConnection&) = delete;
    PostgresConnection& operator=(const PostgresConnection&) = delete;

    SqlRows Run(std::string_view sql, std::initializer_list<SqlValue> values) override;
    void Execute(const char* script) override;
    // Ends a failed transaction, or the connection where even that fails.
    void Rollback() noexcept;
    // Connects again when the connection was lost; throws when it cannot.
    void EnsureConnected();

  private:
    PGconn* connection_ = nullptr;
    std::unordered_map<std::string, std::string> prepared_;  // statement text to its name
};

// A PostgreSQL database through libpq, at a connection URI. Every Read or Write is a
// transaction on a connection of a small pool, committed before it returns (the server's
// synchronous commit makes that durable); one the server aborts as a serialization failure
// or a deadlock is run again. Services on other machines may share the database: what they
// must agree on is decided in it (row locks, sequences, an advisory lock for the schema).
class PostgresDatabase : public SqlDatabase {
  public:
    explicit PostgresDatabase(const std::string& uri, std::size_t connections = 8);

    std::vector<const char*> SchemaSteps() const override;
    void LockSchema(SqlConnection& connection) override;
    std::string Description() const override { return description_; }

  protected:
    void RunRead(const std::function<void(SqlConnection&)>& work) override;
    void RunWrite(const std::function<void(SqlConnection&)>& work) override;

  private:
    class Lease {
      public:
        explicit Lease(PostgresDatabase& database);
        ~Lease();
        PostgresConnection& connection() { return *connection_; }

      private:
        PostgresDatabase& database_;
        std::unique_ptr<PostgresConnection> connection_;
    };

    void RunTransaction(const char* begin, const std::function<void(SqlConnection&)>& work);

    std::string description_;
    std::mutex poolMutex_;
    std::condition_variable poolChanged_;
    std::vector<std::unique_ptr<PostgresConnection>> idle_;
};

// The URI as messages show it: the user, host, port and database, never the password.
std::string DescribePostgresUri(const std::string& uri);

}  // namespace tertulia
