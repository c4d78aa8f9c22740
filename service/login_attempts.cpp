#include "service/login_attempts.h"

#include <algorithm>

#include "service/companies.h"
#include "service/rate_limits.h"

namespace tertulia {

namespace {

// Failed logins in a row of a key and when the last was.
struct Failures {
    unsigned count = 0;
    std::int64_t last = 0;
};

Failures FailuresOf(const SqlRows& row, std::int64_t now) {
    if (row.empty() || now - row.Int(0, 1) > LoginAttempts::kFailureMemory) return {};
    return {static_cast<unsigned>(row.Int(0, 0)), row.Int(0, 1)};
}

// The failures of a key; locked, the key's row is made where missing and held until the
// commit, so that services sharing the database decide on the key one attempt at a time.
Failures KeyFailures(SqlConnection& db, const std::string& key, bool lock, std::int64_t now) {
    if (!lock) {
        return FailuresOf(db.Run("SELECT count, last FROM login_failures WHERE key = ?", {key}),
                          now);
    }
    return FailuresOf(db.Run("INSERT INTO login_failures (key, count, last) VALUES (?, 0, ?) "
                             "ON CONFLICT (key) DO UPDATE SET count = login_failures.count "
                             "RETURNING count, last",
                             {std::string_view(key), now}),
                      now);
}

unsigned CountFailure(SqlConnection& db, const std::string& key, std::int64_t now) {
    const SqlRows row = db.Run(
        "INSERT INTO login_failures (key, count, last) VALUES (?, 1, ?) "
        "ON CONFLICT (key) DO UPDATE SET last = excluded.last, count = CASE "
        "WHEN excluded.last - login_failures.last > ? THEN 1 "
        "ELSE login_failures.count + 1 END RETURNING count",
        {std::string_view(key), now, LoginAttempts::kFailureMemory});
    return static_cast<unsigned>(row.Int(0, 0));
}

}  // namespace

void LoginAttempts::ForgetLoginFailures(const std::vector<std::string>& keys) {
    database_.Write([&](SqlConnection& db) {
        for (const std::string& key : keys) {
            db.Run("DELETE FROM login_failures WHERE key = ?", {key});
        }
    });
}

LoginAttempt LoginAttempts::AttemptLogin(const std::string& code, const std::string& address) {
    const std::int64_t now = clock_();
    // In the order they are locked in: "direccion" sorts before "empresa", and a company's key
    // before its pairs.
    const std::string addressKey = "direccion " + address;
    const std::string companyKey = "empresa " + code;
    const std::string pairKey = companyKey + " " + addressKey;
    return database_.Write([&](SqlConnection& db) {
        LoginAttempt attempt;
        const auto company = Companies::IdOf(db, code);
        attempt.companyExists = company.has_value();
        attempt.keys = {addressKey};
        if (company) attempt.keys.insert(attempt.keys.end(), {companyKey, pairKey});
        const bool known =
            company && !db.Run(
                              "SELECT 1 FROM known_addresses WHERE company_id = ? AND "
                              "address = ? AND last_login >= ?",
                              {*company, std::string_view(address), now - kKnownAddressMemory})
                            .empty();
        bool pairCounts = false;
        // The wait, from the keys read or locked; a refusal needs no lock, since a wait that
        // was committed holds until its time.
        const auto wait = [&](bool lock) {
            const Failures byAddress = KeyFailures(db, addressKey, lock, now);
            std::int64_t wait = LoginWait(byAddress.count, byAddress.last, now);
            if (!company) return wait;
            const Failures byCompany = KeyFailures(db, companyKey, lock, now);
            pairCounts = !known && byCompany.count > kFreeLoginFailures;
            if (!pairCounts) return wait;
            const Failures byPair = KeyFailures(db, pairKey, lock, now);
            return std::max(wait, LoginWait(byPair.count, byPair.last, now, 0));
        };
        attempt.wait = wait(false);
        if (attempt.wait == 0) attempt.wait = wait(true);
        if (attempt.wait > 0) return attempt;
        attempt.addressFailures = CountFailure(db, addressKey, now);
        attempt.counted = {addressKey};
        if (company) {
            attempt.companyFailures = CountFailure(db, companyKey, now);
            attempt.counted.push_back(companyKey);
        }
        if (pairCounts) {
            CountFailure(db, pairKey, now);
            attempt.counted.push_back(pairKey);
        }
        return attempt;
    });
}

void LoginAttempts::UncountLoginFailure(const std::vector<std::string>& keys) {
    database_.Write([&](SqlConnection& db) {
        for (const std::string& key : keys) {
            db.Run("UPDATE login_failures SET count = count - 1 WHERE key = ? AND count > 0",
                   {key});
        }
    });
}

void LoginAttempts::RememberAddress(const std::string& code, const std::string& address) {
    const std::int64_t now = clock_();
    database_.Write([&](SqlConnection& db) {
        db.Run(
            "INSERT INTO known_addresses (company_id, address, last_login) "
            "SELECT id, ?, ? FROM companies WHERE code = ? "
            "ON CONFLICT (company_id, address) DO UPDATE SET last_login = excluded.last_login",
            {std::string_view(address), now, std::string_view(code)});
    });
}

}  // namespace tertulia
