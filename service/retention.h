#pragma once

#include <cstddef>
#include <cstdint>

#include "service/clock.h"
#include "service/sql_database.h"

namespace tertulia {

// What the database keeps no longer: conversations whose visitor has gone silent are closed,
// and lapsed sessions, forgotten failed logins and known addresses, and closed conversations
// past their time, removed. Each call is one small transaction, so that requests never wait
// long behind it (see RetentionLoop).
class Retention {
  public:
    Retention(SqlDatabase& database, Clock clock) : database_(database), clock_(std::move(clock)) {}

    // Closes at most `batch` open conversations whose visitor has neither read nor written for
    // `silenceSeconds`; how many it closed.
    std::size_t CloseSilentConversations(std::int64_t silenceSeconds, std::size_t batch);

    // At most `batch` rows of lapsed sessions, forgotten failed logins and known addresses, and
    // conversations closed more than `keepSeconds` ago with their lines (0 keeps conversations
    // for ever). Returns how many rows it removed, so that a caller repeats it while it removes
    // a full batch.
    std::size_t RemoveExpired(std::int64_t keepSeconds, std::size_t batch);

  private:
    SqlDatabase& database_;
    Clock clock_;
};

}  // namespace tertulia
