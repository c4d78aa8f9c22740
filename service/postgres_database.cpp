#include "service/postgres_database.h"

#include <stdexcept>
#include <string>

#include "service/service_log.h"

namespace tertulia {

namespace {

// The first schema of this engine.
const char* const kSchema = R"SQL(
CREATE TABLE companies (
    id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    code TEXT NOT NULL UNIQUE,
    salt TEXT NOT NULL,
    iterations INTEGER NOT NULL,
    hash TEXT NOT NULL
);
CREATE TABLE operator_sessions (
    id_hash TEXT PRIMARY KEY,
    company_id BIGINT NOT NULL REFERENCES companies(id),
    last_seen BIGINT NOT NULL
);
CREATE INDEX operator_sessions_last_seen ON operator_sessions(last_seen);
CREATE TABLE conversations (
    id INTEGER GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    company_id BIGINT NOT NULL REFERENCES companies(id),
    visitor_name TEXT NOT NULL,
    token_hash TEXT NOT NULL,
    open INTEGER NOT NULL,
    opened_at BIGINT NOT NULL,
    line_count INTEGER NOT NULL DEFAULT 0,
    byte_count BIGINT NOT NULL DEFAULT 0,
    visitor_lines INTEGER NOT NULL DEFAULT 0,
    closed_at BIGINT
);
CREATE INDEX conversations_open ON conversations(company_id, open, id);
CREATE INDEX conversations_closed ON conversations(open, closed_at);
CREATE TABLE messages (
    id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    conversation_id INTEGER NOT NULL REFERENCES conversations(id),
    from_operator INTEGER NOT NULL,
    text TEXT NOT NULL,
    sent_at BIGINT NOT NULL
);
CREATE INDEX messages_of_conversation ON messages(conversation_id, id);
CREATE TABLE login_failures (
    key TEXT PRIMARY KEY,
    count INTEGER NOT NULL,
    last BIGINT NOT NULL
);
CREATE INDEX login_failures_last ON login_failures(last);
CREATE TABLE allowed_sites (
    company_id BIGINT NOT NULL REFERENCES companies(id),
    origin TEXT NOT NULL,
    PRIMARY KEY (company_id, origin)
);
)SQL";

// When each conversation's visitor was last heard from, so that silent ones are closed; the
// client networks that logged in to each company, which the company's failed-login wait leaves
// alone.
const char* const kVisitorsAndKnownAddresses = R"SQL(
ALTER TABLE conversations ADD COLUMN visitor_seen BIGINT NOT NULL DEFAULT 0;
UPDATE conversations SET visitor_seen = extract(epoch FROM now())::BIGINT;
CREATE INDEX conversations_silent ON conversations(open, visitor_seen);
CREATE TABLE known_addresses (
    company_id BIGINT NOT NULL REFERENCES companies(id),
    address TEXT NOT NULL,
    last_login BIGINT NOT NULL,
    PRIMARY KEY (company_id, address)
);
CREATE INDEX known_addresses_last_login ON known_addresses(last_login);
)SQL";

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

// Throws unless the result is a success.
void Check(PGconn* connection, const Result& result) {
    const ExecStatusType status = PQresultStatus(result.get());
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return;
    const char* state = result ? PQresultErrorField(result.get(), PG_DIAG_SQLSTATE) : nullptr;
    throw PostgresError(Message(connection), state ? state : "");
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
    LogLine("PostgreSQL: " + line);
}

}  // namespace

PostgresConnection::PostgresConnection(const std::string& uri)
    : connection_(PQconnectdb(uri.c_str())) {
    if (PQstatus(connection_) != CONNECTION_OK) {
        const std::string message =
            connection_ ? Message(connection_) : std::string("PostgreSQL: out of memory");
        PQfinish(connection_);
        throw std::runtime_error(message);
    }
    PQsetNoticeProcessor(connection_, LogNotice, nullptr);
}

PostgresConnection::~PostgresConnection() {
    PQfinish(connection_);
}

void PostgresConnection::EnsureConnected() {
    if (PQstatus(connection_) == CONNECTION_OK) return;
    prepared_.clear();
    PQreset(connection_);
    if (PQstatus(connection_) != CONNECTION_OK) throw std::runtime_error(Message(connection_));
}

void PostgresConnection::Execute(const char* script) {
    Check(connection_, Result(PQexec(connection_, script), &PQclear));
}

void PostgresConnection::Rollback() noexcept {
    if (PQstatus(connection_) != CONNECTION_OK) return;
    const Result result(PQexec(connection_, "ROLLBACK"), &PQclear);
    // A connection that cannot even roll back is made again, without its prepared statements.
    if (PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
        prepared_.clear();
        PQreset(connection_);
    }
}

SqlRows PostgresConnection::Run(std::string_view sql, std::initializer_list<SqlValue> values) {
    const std::string key(sql);
    auto it = prepared_.find(key);
    if (it == prepared_.end()) {
        const std::string name = "s" + std::to_string(prepared_.size());
        Check(connection_,
              Result(PQprepare(connection_, name.c_str(), Numbered(sql).c_str(), 0, nullptr),
                     &PQclear));
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
    const Result result(
        PQexecPrepared(connection_, it->second.c_str(), static_cast<int>(pointers.size()),
                       pointers.data(), nullptr, nullptr, 0),
        &PQclear);
    Check(connection_, result);
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

PostgresDatabase::PostgresDatabase(const std::string& uri, std::size_t connections)
    : description_(DescribePostgresUri(uri)) {
    try {
        for (std::size_t i = 0; i < connections; ++i) {
            idle_.push_back(std::make_unique<PostgresConnection>(uri));
        }
    } catch (const std::exception& failure) {
        throw std::runtime_error("no se puede conectar con la base de datos " + description_ +
                                 ": " + failure.what());
    }
}

std::vector<const char*> PostgresDatabase::SchemaSteps() const {
    return {kSchema, kVisitorsAndKnownAddresses};
}

void PostgresDatabase::LockSchema(SqlConnection& connection) {
    // Held until the transaction ends; the number is this service's own.
    connection.Execute("SELECT pg_advisory_xact_lock(7470797065727475)");
}

void PostgresDatabase::RunRead(const std::function<void(SqlConnection&)>& work) {
    RunTransaction("BEGIN READ ONLY", work);
}

void PostgresDatabase::RunWrite(const std::function<void(SqlConnection&)>& work) {
    RunTransaction("BEGIN", work);
}

void PostgresDatabase::RunTransaction(const char* begin,
                                      const std::function<void(SqlConnection&)>& work) {
    constexpr int kAttempts = 5;
    for (int attempt = 1;; ++attempt) {
        Lease lease(*this);
        PostgresConnection& connection = lease.connection();
        try {
            connection.EnsureConnected();
            connection.Execute(begin);
            work(connection);
            // When the commit's outcome is not known, this fails and nothing is reported as
            // stored.
            connection.Execute("COMMIT");
            return;
        } catch (const PostgresError& failure) {
            connection.Rollback();
            if (!failure.Retryable() || attempt == kAttempts) throw;
        } catch (...) {
            connection.Rollback();
            throw;
        }
    }
}

PostgresDatabase::Lease::Lease(PostgresDatabase& database) : database_(database) {
    std::unique_lock lock(database_.poolMutex_);
    database_.poolChanged_.wait(lock, [&] { return !database_.idle_.empty(); });
    connection_ = std::move(database_.idle_.back());
    database_.idle_.pop_back();
}

PostgresDatabase::Lease::~Lease() {
    {
        std::lock_guard lock(database_.poolMutex_);
        database_.idle_.push_back(std::move(connection_));
    }
    database_.poolChanged_.notify_one();
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
