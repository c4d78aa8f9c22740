#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "service/clock.h"
#include "service/sql_database.h"

namespace tertulia {

// A login attempt, decided and (when it may go on) counted as a failure before its password is
// checked.
struct LoginAttempt {
    std::int64_t wait = 0;         // > 0: refused for this many seconds, nothing counted
    bool companyExists = false;    // false: refused without a check
    unsigned companyFailures = 0;  // in a row, this attempt's included
    unsigned addressFailures = 0;
    std::vector<std::string> keys;     // all its keys, forgotten when it succeeds
    std::vector<std::string> counted;  // the keys it counted a failure of
};

// Failed logins in a row, and the client networks that logged in to each company, shared by
// every service on the database.
class LoginAttempts {
  public:
    // Failed logins are forgotten after this long without another.
    static constexpr std::int64_t kFailureMemory = 3600;
    // A client network that logged in to a company stays known to it this long.
    static constexpr std::int64_t kKnownAddressMemory = 30 * 24 * 3600;

    LoginAttempts(SqlDatabase& database, Clock clock)
        : database_(database), clock_(std::move(clock)) {}

    // An attempt on company `code` from the client network `address` (see LimitKey). Failures
    // are counted per network ("direccion ADDR", across companies), per company ("empresa
    // CODE") and, once the company is past kFreeLoginFailures failures in a row, per company and
    // network ("empresa CODE direccion ADDR"). The network waits as LoginWait says; the pair
    // waits from its first failure on, except for a network that logged in to the company within
    // kKnownAddressMemory; the company as a whole never waits, so that an attacker does not lock
    // its operator out. One transaction reads the keys, then locks them in a fixed order,
    // decides and counts, so that simultaneous attempts, on every service sharing the database,
    // get no more checks than the waits allow. A refused attempt counts nothing: it does not
    // extend the wait.
    LoginAttempt AttemptLogin(const std::string& code, const std::string& address);
    // Takes back a failure counted of each key, for an attempt that was not checked after all.
    void UncountLoginFailure(const std::vector<std::string>& keys);
    // Forgets the failures of the keys: a login succeeded.
    void ForgetLoginFailures(const std::vector<std::string>& keys);
    // The network as known to the company from now on (see AttemptLogin).
    void RememberAddress(const std::string& code, const std::string& address);

  private:
    SqlDatabase& database_;
    Clock clock_;
};

}  // namespace tertulia
