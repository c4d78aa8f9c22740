#include "service/postgres_database.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

#include "service/service_log.h"

namespace tertulia {

namespace {

// A failure the server reported, with its SQLSTATE code.
class PostgresError : public std::runtime_error {
  public:
    PostgresError(const std::string& message, std::string state)
        : std::runtime_error(message), state_(std::move(state)) {}
    // A serialization failure or a deadlock: the transaction may simply be run again.
    bool Retryable() const { return state_ == "40001" || state_ == "40P01"; }

  private:
    std::string state_;
};

// The connection broke (the server restarted or went away): what was sent on it may or may not
// have reached the server.
class ConnectionLost : public DatabaseUnavailable {
  public:
    using DatabaseUnavailable::DatabaseUnavailable;
};

// libpq's message on one line: its lines joined with blanks.
std::string Message(PGconn* connection) {
    std::string message;
    bool blank = false;
    for (const char* c = PQerrorMessage(connection); *c != '\0'; ++c) {
        const bool space = *c == '\n' || *c == '\t' || *c == ' ';
        if (space) {
            blank = !message.empty();
            continue;
        }
        if (blank) message += ' ';
        blank = false;
        message += *c;
    }
    return "PostgreSQL: " + message;
}

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

bool Succeeded(const PGresult* result) {
    const ExecStatusType status = PQresultStatus(result);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

// "?" placeholders as PostgreSQL's "$1", "$2"...; the statements hold no "?" of their own.
std::string Numbered(std::string_view sql) {
    std::string out;
    int next = 1;
    for (const char c : sql) {
        if (c == '?') {
            out += '$' + std::to_string(next++);
        } else {
            out += c;
        }
    }
    return out;
}

// A notice of the server's ("relation ... already exists, skipping" at every start) goes to the
// log as one line, not to standard error as libpq writes it.
void LogNotice(void*, const char* message) {
    std::string line = message;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    for (char& c : line) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    const LogPriority priority =
        line.starts_with("WARNING") ? LogPriority::Warning : LogPriority::Info;
    LogLine(priority, "PostgreSQL: " + line);
}

// The events of `events` (or an error) that came on the socket before the deadline; 0 when
// none did.
short Ready(int socket, short events, Deadline deadline) {
    // No socket: libpq finds out what is wrong itself.
    if (socket < 0) return events;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return 0;
        pollfd ready{socket, events, 0};
        const int count = ::poll(&ready, 1,
                                 static_cast<int>(std::min<std::int64_t>(
                                     left.count(), std::numeric_limits<int>::max())));
        if (count > 0) return ready.revents;
        if (count < 0 && errno != EINTR) return events;
    }
}

// The server's own limits for a statement and for a lock wait, a little below the deadline, so
// that the server gives up its side of the work before the service gives up waiting for it.
std::string ServerTimeouts(std::chrono::milliseconds timeout) {
    const std::int64_t whole = timeout.count();
    const std::int64_t statement = whole - std::min<std::int64_t>(1000, whole / 4);
    const std::int64_t lock = statement - std::min<std::int64_t>(500, whole / 8);
    return "SET statement_timeout = " + std::to_string(statement) +
           "; SET lock_timeout = " + std::to_string(lock);
}

}  // namespace

PostgresConnection::PostgresConnection(const std::string& uri, std::chrono::milliseconds timeout,
                                       Deadline deadline)
    : deadline_(deadline) {
    // Keepalives find a server that vanished under an idle connection. They come before the
    // URI, whose own settings win.
    const char* const keywords[] = {"keepalives",       "keepalives_idle", "keepalives_interval",
                                    "keepalives_count", "dbname",          nullptr};
    const char* const values[] = {"1", "30", "10", "3", uri.c_str(), nullptr};
    connection_ = PQconnectStartParams(keywords, values, 1);
    if (connection_ == nullptr) throw DatabaseUnavailable("PostgreSQL: sin memoria");
    try {
        // Polled as libpq asks, so that the deadline bounds every step of connecting.
        PostgresPollingStatusType polling = PGRES_POLLING_WRITING;
        while (PQstatus(connection_) != CONNECTION_BAD && polling != PGRES_POLLING_OK &&
               polling != PGRES_POLLING_FAILED) {
            const short wanted = polling == PGRES_POLLING_READING ? POLLIN : POLLOUT;
            if (Ready(PQsocket(connection_), wanted, deadline_) == 0) {
                throw DatabaseUnavailable("PostgreSQL no ha respondido a tiempo al conectar");
            }
            polling = PQconnectPoll(connection_);
        }
        if (polling != PGRES_POLLING_OK) throw DatabaseUnavailable(Message(connection_));
        PQsetnonblocking(connection_, 1);
        PQsetNoticeProcessor(connection_, LogNotice, nullptr);
        Execute(ServerTimeouts(timeout).c_str());
    } catch (...) {
        PQfinish(connection_);
        throw;
    }
}

PostgresConnection::~PostgresConnection() {
    PQfinish(connection_);
}

bool PostgresConnection::Usable() const {
    return !broken_ && PQstatus(connection_) == CONNECTION_OK;
}

void PostgresConnection::Lost() {
    broken_ = true;
    throw ConnectionLost(Message(connection_));
}

short PostgresConnection::WaitFor(short events) {
    const short ready = Ready(PQsocket(connection_), events, deadline_);
    if (ready == 0) {
        broken_ = true;
        throw DatabaseUnavailable("PostgreSQL no ha respondido a tiempo");
    }
    return ready;
}

PGresult* PostgresConnection::Await(bool sent) {
    if (!sent) Lost();
    // The statement leaves in pieces when the socket is full.
    for (int flushed; (flushed = PQflush(connection_)) != 0;) {
        if (flushed < 0) Lost();
        if ((WaitFor(POLLIN | POLLOUT) & POLLIN) != 0 && !PQconsumeInput(connection_)) Lost();
    }
    Result kept(nullptr, &PQclear);
    for (;;) {
        while (PQisBusy(connection_)) {
            WaitFor(POLLIN);
            if (!PQconsumeInput(connection_)) Lost();
        }
        Result next(PQgetResult(connection_), &PQclear);
        if (!next) break;
        // A script's first failure ends it; otherwise its last result is the answer.
        if (!kept || Succeeded(kept.get())) kept = std::move(next);
    }
    if (kept && Succeeded(kept.get())) return kept.release();
    const char* field = kept ? PQresultErrorField(kept.get(), PG_DIAG_SQLSTATE) : nullptr;
    const std::string state = field ? field : "";
    // The server ending the session (a shutdown, a restart) or the connection failing.
    if (PQstatus(connection_) != CONNECTION_OK || state.starts_with("57P") ||
        state.starts_with("08")) {
        Lost();
    }
    // The server's statement or lock time-out.
    if (state == "57014" || state == "55P03") throw DatabaseUnavailable(Message(connection_));
    throw PostgresError(Message(connection_), state);
}

void PostgresConnection::Execute(const char* script) {
    PQclear(Await(PQsendQuery(connection_, script) == 1));
}

void PostgresConnection::Announce(const std::string& change) {
    Run(std::string("SELECT pg_notify('") + kChangesChannel + "', ?)", {std::string_view(change)});
}

void PostgresConnection::Rollback() noexcept {
    if (!Usable()) return;
    try {
        Execute("ROLLBACK");
    } catch (...) {
        broken_ = true;
    }
}

SqlRows PostgresConnection::Run(std::string_view sql, std::initializer_list<SqlValue> values) {
    const std::string key(sql);
    auto it = prepared_.find(key);
    if (it == prepared_.end()) {
        const std::string name = "s" + std::to_string(prepared_.size());
        PQclear(Await(PQsendPrepare(connection_, name.c_str(), Numbered(sql).c_str(), 0, nullptr) ==
                      1));
        it = prepared_.emplace(key, name).first;
    }
    std::vector<std::string> texts;
    texts.reserve(values.size());
    for (const SqlValue& value : values) {
        if (const auto* number = std::get_if<std::int64_t>(&value)) {
            texts.push_back(std::to_string(*number));
        } else {
            texts.emplace_back(std::get<std::string_view>(value));
        }
    }
    std::vector<const char*> pointers;
    for (const std::string& text : texts) pointers.push_back(text.c_str());
    const Result result(Await(PQsendQueryPrepared(connection_, it->second.c_str(),
                                                  static_cast<int>(pointers.size()),
                                                  pointers.data(), nullptr, nullptr, 0) == 1),
                        &PQclear);
    SqlRows rows;
    const int count = PQntuples(result.get());
    const int columns = PQnfields(result.get());
    for (int row = 0; row < count; ++row) {
        std::vector<std::string> fields;
        fields.reserve(columns);
        for (int column = 0; column < columns; ++column) {
            fields.emplace_back(PQgetvalue(result.get(), row, column),
                                PQgetlength(result.get(), row, column));
        }
        rows.Add(std::move(fields));
    }
    return rows;
}

PostgresDatabase::PostgresDatabase(const std::string& uri, std::chrono::milliseconds timeout,
                                   std::size_t connections)
    : SqlDatabase(timeout), uri_(uri), description_(DescribePostgresUri(uri)) {
    const Deadline deadline = std::chrono::steady_clock::now() + timeout;
    try {
        for (std::size_t i = 0; i < connections; ++i) {
            idle_.push_back(std::make_unique<PostgresConnection>(uri, timeout, deadline));
        }
    } catch (const std::exception& failure) {
        throw std::runtime_error("no se puede conectar con la base de datos " + description_ +
                                 ": " + failure.what());
    }
}

void PostgresDatabase::WatchChanges(ChangeWatcher watcher) {
    listener_.reset();
    if (watcher.changed || watcher.unknown) {
        // The listener tells of changes it may have missed only when it listens again on a
        // new connection.
        watcher.unknown = [this, unknown = std::move(watcher.unknown)] {
            CountReconnection();
            if (unknown) unknown();
        };
        listener_ = std::make_unique<PostgresListener>(uri_, std::move(watcher));
    }
}

void PostgresDatabase::LockSchema(SqlConnection& connection) {
    // Held until the transaction ends; the number is this service's own.
    connection.Execute("SELECT pg_advisory_xact_lock(7470797065727475)");
}

void PostgresDatabase::RunRead(const Work& work, Deadline deadline) {
    RunTransaction("BEGIN READ ONLY", work, deadline);
}

void PostgresDatabase::RunWrite(const Work& work, Deadline deadline) {
    RunTransaction("BEGIN", work, deadline);
}

void PostgresDatabase::RunTransaction(const char* begin, const Work& work, Deadline deadline) {
    constexpr int kAttempts = 5;
    Lease lease(*this, deadline);
    bool replaced = false;
    for (int attempt = 1;; ++attempt) {
        PostgresConnection& connection = lease.Connection();
        bool committing = false;
        try {
            connection.Execute(begin);
            work(connection);
            committing = true;
            // When the commit's outcome is not known, this fails and nothing is reported as
            // stored.
            connection.Execute("COMMIT");
            return;
        } catch (const ConnectionLost&) {
            // A connection the server dropped, typically at a restart, is found out by its
            // first statement: a new one runs the transaction again, once, unless the commit
            // was sent, whose outcome no one knows.
            if (committing || replaced) throw;
            replaced = true;
            lease.Replace();
        } catch (const PostgresError& failure) {
            connection.Rollback();
            if (!failure.Retryable() || attempt == kAttempts) throw;
        } catch (...) {
            connection.Rollback();
            throw;
        }
    }
}

PostgresDatabase::Lease::Lease(PostgresDatabase& database, Deadline deadline)
    : database_(database), deadline_(deadline) {
    std::unique_lock lock(database_.poolMutex_);
    if (!database_.poolChanged_.wait_until(lock, deadline,
                                           [&] { return !database_.idle_.empty(); })) {
        throw DatabaseUnavailable("PostgreSQL: ninguna conexión libre a tiempo");
    }
    connection_ = std::move(database_.idle_.back());
    database_.idle_.pop_back();
}

PostgresDatabase::Lease::~Lease() {
    // A connection in an unknown state is closed; its place makes a new one when next leased.
    if (connection_ && !connection_->Usable()) connection_.reset();
    {
        std::lock_guard lock(database_.poolMutex_);
        database_.idle_.push_back(std::move(connection_));
    }
    database_.poolChanged_.notify_one();
}

PostgresConnection& PostgresDatabase::Lease::Connection() {
    if (!connection_ || !connection_->Usable()) {
        connection_.reset();
        connection_ =
            std::make_unique<PostgresConnection>(database_.uri_, database_.Timeout(), deadline_);
        database_.CountReconnection();
    }
    connection_->SetDeadline(deadline_);
    return *connection_;
}

std::string DescribePostgresUri(const std::string& uri) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(uri.c_str(), &error);
    if (options == nullptr) {
        PQfreemem(error);
        return "PostgreSQL (URI no válida)";
    }
    std::string user;
    std::string host;
    std::string port;
    std::string name;
    for (PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
        if (option->val == nullptr) continue;
        const std::string keyword = option->keyword;
        if (keyword == "user") user = option->val;
        if (keyword == "host") host = option->val;
        if (keyword == "port") port = option->val;
        if (keyword == "dbname") name = option->val;
    }
    PQconninfoFree(options);
    std::string shown = "postgresql://";
    if (!user.empty()) shown += user + "@";
    shown += host;
    if (!port.empty()) shown += ":" + port;
    return shown + "/" + name;
}

}  // namespace tertulia
