#include "service/schema.h"

#include <stdexcept>
#include <string>

#include "service/schema_steps.h"
#include "service/service_log.h"

namespace tertulia {

namespace {

// The unique index on the company code without regard to case, or a log line for each pair of
// older codes that keeps it from being made. Not a step: it is tried at every start, until the
// older codes no longer stand in its way.
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

}  // namespace

void UpgradeSchema(SqlDatabase& database, std::int64_t now) {
    const std::span<const SchemaStep> steps = SchemaSteps();
    const std::int64_t last = steps.back().number;
    const SqlEngine engine = database.Engine();
    database.Write([&](SqlConnection& db) {
        database.LockSchema(db);
        db.Execute(
            "CREATE TABLE IF NOT EXISTS service_state (name TEXT PRIMARY KEY, value BIGINT NOT "
            "NULL)");
        const SqlRows version =
            db.Run("SELECT value FROM service_state WHERE name = 'schema_version'");
        const std::int64_t stored = version.empty() ? 0 : version.Int(0, 0);
        if (stored > last) {
            throw std::runtime_error("su esquema (versión " + std::to_string(stored) +
                                     ") es de una versión posterior del servicio");
        }
        const std::int64_t current = VersionInSteps(engine, stored);
        for (const SchemaStep& step : steps) {
            if (step.number > current) db.Execute(step.For(engine));
        }
        const char* const set =
            "INSERT INTO service_state (name, value) VALUES (?, ?) "
            "ON CONFLICT (name) DO UPDATE SET value = excluded.value";
        db.Run(set, {std::string_view("schema_version"), last});
        db.Run(set, {std::string_view("opened"), now});
        FoldCompanyCodes(db);
    });
}

}  // namespace tertulia
