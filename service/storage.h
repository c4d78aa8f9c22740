#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "service/clock.h"
#include "service/companies.h"
#include "service/conversations.h"
#include "service/login_attempts.h"
#include "service/ready_answers.h"
#include "service/retention.h"
#include "service/sessions.h"
#include "service/sql_database.h"

namespace tertulia {

// All that one request leaves for the next, by what it keeps, over one database, so that any
// number of services may share it. Every operation of the units is one transaction, committed
// before it returns.
struct Storage {
    // How long one transaction waits for the database unless told otherwise.
    static constexpr std::chrono::seconds kDatabaseTimeout{10};

    // Creates or upgrades the schema and proves that the database takes writes; throws
    // std::runtime_error naming the database and the cause otherwise. Several services may
    // open one new database at the same time. An empty clock is the system's.
    Storage(std::unique_ptr<SqlDatabase> opened, Clock given);

    // Storage over OpenSqlDatabase(location, timeout).
    static std::unique_ptr<Storage> Open(const std::string& location, Clock clock,
                                         std::chrono::milliseconds timeout = kDatabaseTimeout);

    const std::unique_ptr<SqlDatabase> database;
    const Clock clock;
    Companies companies;
    Sessions sessions;
    LoginAttempts loginAttempts;
    Conversations conversations;
    Retention retention;
    ReadyAnswers readyAnswers;
};

}  // namespace tertulia
