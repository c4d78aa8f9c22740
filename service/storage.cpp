#include "service/storage.h"

#include <stdexcept>

#include "service/service_log.h"

namespace tertulia {

namespace {

std::int64_t SystemClock() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::int64_t Count(std::size_t value) {
    return static_cast<std::int64_t>(value);
}

// The unique index on the company code without regard to case, or a log line for each pair of
// older codes that keeps it from being made.
void FoldCompanyCodes(SqlConnection& db) {
    // Codes are unique whatever their letter case (they are ASCII, which lower() folds on both
    // engines). Codes registered before that rule that differ only in case stay as they are.
    const SqlRows twins = db.Run(
        "SELECT a.code, b.code FROM companies a JOIN companies b "
        "ON lower(a.code) = lower(b.code) AND a.id < b.id ORDER BY a.id, b.id");
    if (twins.empty()) {
        db.Execute(
            "CREATE UNIQUE INDEX IF NOT EXISTS companies_code_folded ON companies (lower(code))");
        return;
    }
    for (std::size_t row = 0; row < twins.size(); ++row) {
        LogLine(LogPriority::Warning,
                "las empresas \xC2\xAB" + twins.Text(row, 0) + "\xC2\xBB y \xC2\xAB" +
                    twins.Text(row, 1) +
                    "\xC2\xBB solo se distinguen por las may\xC3\xBAsculas; se conservan las dos");
    }
}

void UpgradeSchema(SqlDatabase& database, std::int64_t now) {
    // A real write, committed, is the only sure sign that the database takes writes.
    const std::vector<const char*> steps = database.SchemaSteps();
    database.Write([&](SqlConnection& db) {
        database.LockSchema(db);
        db.Execute(
            "CREATE TABLE IF NOT EXISTS service_state (name TEXT PRIMARY KEY, value BIGINT NOT "
            "NULL)");
        const SqlRows version =
            db.Run("SELECT value FROM service_state WHERE name = 'schema_version'");
        const std::int64_t current = version.empty() ? 0 : version.Int(0, 0);
        if (current > Count(steps.size())) {
            throw std::runtime_error("su esquema (versión " + std::to_string(current) +
                                     ") es de una versión posterior del servicio");
        }
        for (auto step = static_cast<std::size_t>(current); step < steps.size(); ++step) {
            db.Execute(steps[step]);
        }
        const char* const set =
            "INSERT INTO service_state (name, value) VALUES (?, ?) "
            "ON CONFLICT (name) DO UPDATE SET value = excluded.value";
        db.Run(set, {std::string_view("schema_version"), Count(steps.size())});
        db.Run(set, {std::string_view("opened"), now});
        FoldCompanyCodes(db);
    });
}

}  // namespace

Storage::Storage(std::unique_ptr<SqlDatabase> opened, Clock given)
    : database(std::move(opened)),
      clock(given ? std::move(given) : Clock(SystemClock)),
      companies(*database),
      sessions(*database, clock),
      loginAttempts(*database, clock),
      conversations(*database, clock, sessions),
      retention(*database, clock) {
    try {
        UpgradeSchema(*database, clock());
    } catch (const std::exception& failure) {
        throw std::runtime_error("no se puede escribir en la base de datos " +
                                 database->Description() + ": " + failure.what());
    }
}

std::unique_ptr<Storage> Storage::Open(const std::string& location, Clock clock,
                                       std::chrono::milliseconds timeout) {
    return std::make_unique<Storage>(OpenSqlDatabase(location, timeout), std::move(clock));
}

}  // namespace tertulia
