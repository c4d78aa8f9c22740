#pragma once

#include <libpq-fe.h>
#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>

#include "fresh_database.h"

namespace tertulia::testing {

// A connection of the test's own to the database, beside the storage's.
class DirectConnection {
  public:
    DirectConnection(Backend backend, const std::string& location) {
        if (backend == Backend::Sqlite) {
            sqlite3_open(location.c_str(), &sqlite_);
        } else {
            postgres_ = PQconnectdb(location.c_str());
        }
    }
    ~DirectConnection() {
        sqlite3_close(sqlite_);
        PQfinish(postgres_);
    }
    DirectConnection(const DirectConnection&) = delete;
    DirectConnection& operator=(const DirectConnection&) = delete;

    // False when a statement of the script fails.
    bool Run(const char* sql) {
        if (sqlite_) return sqlite3_exec(sqlite_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
        const std::unique_ptr<PGresult, decltype(&PQclear)> result(PQexec(postgres_, sql),
                                                                   &PQclear);
        const ExecStatusType status = PQresultStatus(result.get());
        return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    }
    // The number a query answers; -1 when it fails.
    std::int64_t Number(const char* sql) {
        const std::string text = Lines(sql);
        return text.empty() ? -1 : std::stoll(text);
    }
    // The first column of every row a query answers, a line each.
    std::string Lines(const char* sql) {
        std::string lines;
        if (sqlite_) {
            sqlite3_stmt* statement = nullptr;
            sqlite3_prepare_v2(sqlite_, sql, -1, &statement, nullptr);
            while (sqlite3_step(statement) == SQLITE_ROW) {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
                lines += std::string(text ? text : "") + "\n";
            }
            sqlite3_finalize(statement);
            return lines;
        }
        const std::unique_ptr<PGresult, decltype(&PQclear)> result(PQexec(postgres_, sql),
                                                                   &PQclear);
        for (int row = 0; row < PQntuples(result.get()); ++row) {
            lines += std::string(PQgetvalue(result.get(), row, 0)) + "\n";
        }
        return lines;
    }

  private:
    sqlite3* sqlite_ = nullptr;
    PGconn* postgres_ = nullptr;
};

}  // namespace tertulia::testing
