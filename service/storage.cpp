#include "service/storage.h"

#include <stdexcept>

#include "service/schema.h"

namespace tertulia {

namespace {

std::int64_t SystemClock() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

Storage::Storage(std::unique_ptr<SqlDatabase> opened, Clock given)
    : database(std::move(opened)),
      clock(given ? std::move(given) : Clock(SystemClock)),
      companies(*database),
      sessions(*database, clock),
      loginAttempts(*database, clock),
      conversations(*database, clock, sessions),
      retention(*database, clock),
      readyAnswers(*database) {
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
