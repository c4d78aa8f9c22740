#pragma once

#include <cstdint>

#include "service/sql_database.h"

namespace tertulia {

// Creates the schema, or brings it from the version the database holds through the remaining
// steps (SchemaSteps), in one transaction that services starting together take one after the
// other, and notes when it was opened (`now`): a real write, committed, is the only sure sign
// that the database takes writes. Throws when the database is of a newer service, or cannot be
// written.
void UpgradeSchema(SqlDatabase& database, std::int64_t now);

}  // namespace tertulia
