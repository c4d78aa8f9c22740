#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "running_service.h"
#include "tests/support/postgres_server.h"

namespace tertulia::testing {

enum class Backend { Sqlite, Postgres };

inline const char* BackendName(Backend backend) {
    return backend == Backend::Sqlite ? "SQLite" : "PostgreSQL";
}

// One PostgreSQL server for the whole test program, started when a test first needs it and
// stopped at its end.
inline test::PostgresServer& SharedPostgres() {
    static test::PostgresServer server;
    return server;
}

// A new empty database of the backend: an SQLite file in a temporary directory, or a database
// of its own on the shared PostgreSQL server. Where PostgreSQL cannot be started, Skip() says
// why.
class FreshDatabase {
  public:
    explicit FreshDatabase(Backend backend) {
        if (backend == Backend::Sqlite) {
            location_ = directory_.path() + "/service.db";
            return;
        }
        test::PostgresServer& server = SharedPostgres();
        if (!server.Running()) {
            skip_ = "PostgreSQL cannot be started here: " + server.Error();
            return;
        }
        static std::atomic<int> made = 0;
        location_ = server.CreateDatabase("tertulia_" + std::to_string(++made));
    }

    const std::string& Skip() const { return skip_; }
    const std::string& location() const { return location_; }
    const std::string& directory() const { return directory_.path(); }

  private:
    TemporaryDirectory directory_;
    std::string location_;
    std::string skip_;
};

}  // namespace tertulia::testing
