#pragma once

#include <cstdint>
#include <span>

#include "service/sql_database.h"

namespace tertulia {

// One step of the schema: what brings a database at version `number` - 1 to `number`, written
// for each engine, so that a version means the same tables on both.
struct SchemaStep {
    std::int64_t number;
    const char* sqlite;
    const char* postgres;

    const char* For(SqlEngine engine) const {
        return engine == SqlEngine::Sqlite ? sqlite : postgres;
    }
};

// The schema's steps in order, numbered from 1; a new database runs them all, and its version
// is the last one's number.
std::span<const SchemaStep> SchemaSteps();

// The version of the steps that a database holding `stored` as its schema_version has.
std::int64_t VersionInSteps(SqlEngine engine, std::int64_t stored);

}  // namespace tertulia
