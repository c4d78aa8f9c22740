#pragma once

#include <cstdint>
#include <functional>

#include "service/sql_database.h"

namespace tertulia {

// Tells the services on the database, at the commit, that the conversation changed: it was
// opened, given a line, closed, or given to another session.
void AnnounceChange(SqlConnection& db, std::int64_t company, std::int64_t conversation);

// The watcher that hands each announced change to `changed` with its company, and tells
// `unknown` when changes may have gone untold.
ChangeWatcher ConversationWatcher(
    std::function<void(std::int64_t company, std::int32_t conversation)> changed,
    std::function<void()> unknown);

}  // namespace tertulia
