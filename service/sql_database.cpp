#include "service/sql_database.h"

#include <charconv>
#include <stdexcept>

#include "service/postgres_database.h"
#include "service/sqlite_database.h"

namespace tertulia {

namespace {

thread_local std::optional<Deadline> scopeDeadline;

}  // namespace

DeadlineScope::DeadlineScope(Deadline deadline) : outer_(scopeDeadline) {
    scopeDeadline = outer_ ? std::min(*outer_, deadline) : deadline;
}

DeadlineScope::~DeadlineScope() {
    scopeDeadline = outer_;
}

Deadline SqlDatabase::DeadlineIn(std::chrono::milliseconds timeout) {
    const auto now = std::chrono::steady_clock::now();
    Deadline deadline = now + timeout;
    if (scopeDeadline) deadline = std::min(deadline, *scopeDeadline);
    if (deadline <= now) {
        throw DatabaseUnavailable(
            "la petición ha agotado su plazo antes de llegar a la base de datos");
    }
    return deadline;
}

void SqlDatabase::Ping(std::chrono::milliseconds bound) {
    ReadWithin(bound, [](SqlConnection& db) { db.Run("SELECT 1"); });
}

bool IsPostgresUri(const std::string& location) {
    return location.starts_with("postgresql://") || location.starts_with("postgres://");
}

std::unique_ptr<SqlDatabase> OpenSqlDatabase(const std::string& location,
                                             std::chrono::milliseconds timeout) {
    if (IsPostgresUri(location)) return std::make_unique<PostgresDatabase>(location, timeout);
    try {
        return std::make_unique<SqliteDatabase>(location, timeout);
    } catch (const std::exception& failure) {
        throw std::runtime_error("no se puede escribir en la base de datos " + location + ": " +
                                 failure.what());
    }
}

std::int64_t SqlRows::Int(std::size_t row, std::size_t column) const {
    const std::string& text = Text(row, column);
    if (text.empty()) return 0;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        throw std::runtime_error("not a whole number in the database: " + text);
    }
    return value;
}

}  // namespace tertulia
