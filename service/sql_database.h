#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace tertulia {

// The moment by which one transaction must be done.
using Deadline = std::chrono::steady_clock::time_point;

// The database did not answer within the service's deadline (it is stopped, unreachable, or a
// lock or the write queue held the work too long): the request may be tried again later.
class DatabaseUnavailable : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// While it lasts, every transaction of its thread ends by `deadline` at the latest, and one
// begun past it fails at once: a request's answer is due a fixed time after the request came,
// however long it waited for a worker or a connection before. A scope within another ends no
// later than the outer one.
class DeadlineScope {
  public:
    explicit DeadlineScope(Deadline deadline);
    ~DeadlineScope();
    DeadlineScope(const DeadlineScope&) = delete;
    DeadlineScope& operator=(const DeadlineScope&) = delete;

  private:
    std::optional<Deadline> outer_;
};

// A value bound to a "?" placeholder of a statement.
using SqlValue = std::variant<std::int64_t, std::string_view>;

// The rows a statement returned, every column as its text; SQL NULL reads as "" and 0.
class SqlRows {
  public:
    void Add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
    bool empty() const { return rows_.empty(); }
    std::size_t size() const { return rows_.size(); }
    const std::string& Text(std::size_t row, std::size_t column) const {
        return rows_.at(row).at(column);
    }
    // The text moved out, leaving the field empty: a long transcript is not copied.
    std::string TakeText(std::size_t row, std::size_t column) {
        return std::move(rows_.at(row).at(column));
    }
    std::int64_t Int(std::size_t row, std::size_t column) const;

  private:
    std::vector<std::vector<std::string>> rows_;
};

// A connection inside one transaction. Statements use "?" placeholders, and values only ever
// reach SQL through them, so one text serves both database engines.
class SqlConnection {
  public:
    virtual ~SqlConnection() = default;
    virtual SqlRows Run(std::string_view sql, std::initializer_list<SqlValue> values = {}) = 0;
    // Several statements without values, such as a schema step.
    virtual void Execute(const char* script) = 0;
    // Tells the services watching the database (see SqlDatabase::WatchChanges) of a change,
    // once the transaction commits; nothing when it does not.
    virtual void Announce(const std::string& change) = 0;
};

// The database engines a service may keep its data in.
enum class SqlEngine { Sqlite, Postgres };

// How a service learns of the changes that writes announce.
struct ChangeWatcher {
    // A change announced by a committed write, of this service or another on the database.
    std::function<void(const std::string& change)> changed;
    // Changes may have gone untold for a while: any of them may have happened.
    std::function<void()> unknown;
};

// One database the service keeps everything in, on one engine or another. Each Read or Write
// runs its work as one transaction; a Write returns only after its commit, so an answer built
// on it survives the process being killed. A failure in the work throws out of Read or Write
// and leaves nothing of the transaction behind. Each has a deadline, from its start (or the
// DeadlineScope's, where that is sooner), for the wait for a connection or the write lock and
// for every statement; past it, or when the database cannot be reached, it throws
// DatabaseUnavailable.
class SqlDatabase {
  public:
    // `timeout`: the deadline of each transaction, from its start.
    explicit SqlDatabase(std::chrono::milliseconds timeout) : timeout_(timeout) {}
    virtual ~SqlDatabase() = default;

    // Which SQL the database takes where the engines differ (such as the schema's steps).
    virtual SqlEngine Engine() const = 0;
    // Called first in the transaction that upgrades the schema, so that services starting
    // together upgrade one after the other.
    virtual void LockSchema(SqlConnection& connection) = 0;
    // How the database is named in messages, without any password.
    virtual std::string Description() const = 0;
    // Calls the watcher's functions from a thread of the database's own from now on; an empty
    // watcher stops that, and once this returns none of the former watcher's calls is running.
    virtual void WatchChanges(ChangeWatcher watcher) = 0;

    std::chrono::milliseconds Timeout() const { return timeout_; }
    // A trivial query, answered within `bound` (or the usual deadline, where that is sooner);
    // throws DatabaseUnavailable when the database does not answer.
    void Ping(std::chrono::milliseconds bound);
    // Transactions that failed, time-outs included, since the start.
    std::uint64_t Failures() const { return failures_.load(std::memory_order_relaxed); }
    // Connections made again after one was lost or given up, since the start.
    std::uint64_t Reconnections() const { return reconnections_.load(std::memory_order_relaxed); }

    template <class F>
    auto Read(F&& work) {
        return ReadWithin(timeout_, std::forward<F>(work));
    }
    // A Read whose deadline is `bound` from its start, or the usual one where that is sooner.
    template <class F>
    auto ReadWithin(std::chrono::milliseconds bound, F&& work) {
        return Run([&](const Work& each, Deadline deadline) { RunRead(each, deadline); },
                   std::min(bound, timeout_), std::forward<F>(work));
    }
    template <class F>
    auto Write(F&& work) {
        return Run([&](const Work& each, Deadline deadline) { RunWrite(each, deadline); }, timeout_,
                   std::forward<F>(work));
    }

  protected:
    using Work = std::function<void(SqlConnection&)>;

    // The work may run more than once when the engine asks to retry the transaction; all of
    // it, the waits included, by the deadline.
    virtual void RunRead(const Work& work, Deadline deadline) = 0;
    virtual void RunWrite(const Work& work, Deadline deadline) = 0;
    void CountReconnection() { reconnections_.fetch_add(1, std::memory_order_relaxed); }

  private:
    // `timeout` from now, or the DeadlineScope's deadline where that is sooner; throws
    // DatabaseUnavailable when that has passed.
    static Deadline DeadlineIn(std::chrono::milliseconds timeout);

    template <class Runner, class F>
    auto Run(const Runner& runner, std::chrono::milliseconds timeout, F&& work) {
        using Result = decltype(work(std::declval<SqlConnection&>()));
        try {
            const Deadline deadline = DeadlineIn(timeout);
            if constexpr (std::is_void_v<Result>) {
                runner([&](SqlConnection& connection) { work(connection); }, deadline);
            } else {
                std::optional<Result> result;
                runner([&](SqlConnection& connection) { result.emplace(work(connection)); },
                       deadline);
                return std::move(*result);
            }
        } catch (...) {
            failures_.fetch_add(1, std::memory_order_relaxed);
            throw;
        }
    }

    std::chrono::milliseconds timeout_;
    std::atomic<std::uint64_t> failures_ = 0;
    std::atomic<std::uint64_t> reconnections_ = 0;
};

// Whether a database location is a PostgreSQL connection URI rather than an SQLite file.
bool IsPostgresUri(const std::string& location);

// The database at `location`: a PostgreSQL connection URI ("postgresql://..." or
// "postgres://..."), or else the path of an SQLite file. Each transaction, and connecting,
// waits for the database at most `timeout`, then throws DatabaseUnavailable; a database that
// cannot be opened throws std::runtime_error naming it and the cause.
std::unique_ptr<SqlDatabase> OpenSqlDatabase(const std::string& location,
                                             std::chrono::milliseconds timeout);

}  // namespace tertulia
