#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "service/sql_database.h"

namespace tertulia {

// Seconds since the epoch; tests pass their own clock to age sessions. An empty one is the
// system's.
using Clock = std::function<std::int64_t()>;

struct ConversationInfo {
    std::int32_t id = 0;
    std::string visitorName;  // UTF-8
    bool open = false;
    std::int64_t visitorLines = 0;  // lines its visitor has written
    // The id hash of the operator session it belongs to; empty while it belongs to nobody (see
    // Storage::Claim).
    std::string owner;
};

struct StoredMessage {
    bool fromOperator = false;
    std::string text;  // UTF-8
};

struct NewConversation {
    std::int32_t id = 0;
    std::string token;
};

// Owned: an operator's line into a conversation that another live session has (see
// Storage::Claim).
enum class LineResult { Stored, NotFound, Closed, Full, Owned };

// What one conversation may hold, so that its transcript stays a reply any console reads;
// 0 means no cap.
struct ConversationCaps {
    unsigned lines = 0;
    std::size_t bytes = 0;  // of the lines' UTF-8 text
};

struct OpenedConversation {
    enum class Outcome { Opened, NoCompany, TooManyWaiting };
    Outcome outcome = Outcome::NoCompany;
    NewConversation conversation;
};
enum class CloseResult { Closed, NotFound, AlreadyClosed, Owned };

// What a visitor's event stream has not sent yet.
struct ConversationNews {
    bool found = false;
    bool open = false;
    std::size_t first = 0;             // lines before these
    std::vector<StoredMessage> lines;  // after those already sent
};

// An open conversation as the operator's event stream follows it.
struct ConversationActivity {
    std::int32_t id = 0;
    std::int64_t visitorLines = 0;
    std::int64_t lines = 0;  // either side's
    std::string owner;       // as in ConversationInfo
};

// A live operator session as its requests find it.
struct OperatorSession {
    std::int64_t company = 0;
    std::string idHash;
    // The company's conversations are each answered by the one console that first asks for
    // them ("reparto=uno"), rather than by every console ("reparto=todos").
    bool oneConsole = false;

    // Whether the session's console is told of a conversation that belongs to `owner`.
    bool Sees(const std::string& owner) const {
        return !oneConsole || owner.empty() || owner == idHash;
    }
};

// Whom a conversation that a session asks for belongs to.
enum class ClaimResult { Mine, Other, Free };

// Whether a database location is a PostgreSQL connection URI rather than an SQLite file.
bool IsPostgresUri(const std::string& location);

// Companies, operator sessions, conversations and their messages, and failed logins: all that
// one request leaves for the next, so that any number of services may share one database. Every
// operation is one transaction, committed before it returns. Session ids and visitor tokens are
// kept only as their SHA-256, so a copy of the database lets no one in.
class Storage {
  public:
    // Sessions lapse after this long without a request.
    static constexpr std::int64_t kSessionLifetime = 30 * 60;
    // Failed logins are forgotten after this long without another.
    static constexpr std::int64_t kFailureMemory = 3600;
    // A client network that logged in to a company stays known to it this long.
    static constexpr std::int64_t kKnownAddressMemory = 30 * 24 * 3600;
    // How long one operation waits for the database unless told otherwise.
    static constexpr std::chrono::seconds kDatabaseTimeout{10};

    // Creates or upgrades the schema and proves that the database takes writes; throws
    // std::runtime_error naming the database and the cause otherwise. Several services may
    // open one new database at the same time.
    Storage(std::unique_ptr<SqlDatabase> database, Clock clock);

    // The database at `location`: a PostgreSQL connection URI ("postgresql://..." or
    // "postgres://..."), or else the path of an SQLite file. Each operation, and connecting,
    // waits for the database at most `timeout`, then throws DatabaseUnavailable.
    static std::unique_ptr<Storage> Open(const std::string& location, Clock clock,
                                         std::chrono::milliseconds timeout = kDatabaseTimeout);

    // How long one operation waits for the database at most.
    std::chrono::milliseconds Timeout() const { return database_->Timeout(); }
    // The database as messages name it, without any password.
    std::string Description() const { return database_->Description(); }

    bool HasCompanies();

    // A trivial query, answered within `bound` (or the usual deadline, where that is sooner);
    // throws DatabaseUnavailable when the database does not answer.
    void Ping(std::chrono::milliseconds bound);
    // Open conversations, of every company, in which no operator has written yet; read within
    // `bound` as Ping is.
    std::int64_t WaitingConversations(std::chrono::milliseconds bound);
    // Since the start: transactions that failed, time-outs included, and connections to the
    // database made again.
    std::uint64_t DatabaseFailures() const { return database_->Failures(); }
    std::uint64_t DatabaseReconnections() const { return database_->Reconnections(); }
    // False when a company with this code exists already.
    bool AddCompany(const std::string& code, const std::string& digestText);
    // False when there is no such company. Ends every session of the company.
    bool SetPassword(const std::string& code, const std::string& digestText);
    // Removes the company with its sessions, conversations and lines; false when there is none.
    // Requests adding to the company meanwhile finish first or find it gone.
    bool RemoveCompany(const std::string& code);

    // A new session id when the company exists and the digest text is its password's. An
    // unknown company costs no password hash: company codes are public.
    // `console` names the console program (its key or its cookie, see OperatorApi); its earlier
    // sessions of the company end, and their conversations pass to the new one, so that a
    // console that logs in again, or starts again after a crash, keeps them.
    std::optional<std::string> Login(const std::string& code, const std::string& digestText,
                                     const std::string& console = "");
    // Ends the session of company `code` and frees its conversations, telling every service on
    // the database of each; false when there is no such session.
    bool EndSession(const std::string& code, const std::string& sessionId);
    // The company of a live session of company `code`; the session's lifetime starts again.
    std::optional<std::int64_t> SessionCompany(const std::string& code,
                                               const std::string& sessionId);
    // The same, with what the session's requests need to know of it.
    std::optional<OperatorSession> Session(const std::string& code, const std::string& sessionId);

    // A conversation stops belonging to its session after this many seconds in which the
    // session neither asked for it nor held its event stream (120 unless set), or when the
    // session ends.
    void SetOwnerSilence(std::int64_t seconds) { ownerSilence_ = seconds; }
    // Makes the open conversation the session's unless another live session has it: Mine, or
    // Other; Free when it is closed or not the company's. One conditional update decides, so
    // that of sessions asking at once, on any service sharing the database, one gets it. The
    // time the owner last asked is written at most every OwnerTouchInterval seconds.
    ClaimResult Claim(const OperatorSession& session, std::int32_t conversationId);
    // The session's conversations count as asked for now (its event stream is held).
    void TouchOwned(const OperatorSession& session);
    // The company option "reparto": true for "uno". Switching to "todos" forgets every owner.
    // False when there is no such company.
    bool SetOneConsole(const std::string& code, bool oneConsole);
    // The company's options as name=value lines; nothing when there is no such company.
    std::optional<std::vector<std::string>> CompanyOptions(const std::string& code);

    // Failed logins in a row of a key and when the last was.
    struct Failures {
        unsigned count = 0;
        std::int64_t last = 0;
    };
    // Forgets the failures of the keys: a login succeeded.
    void ForgetLoginFailures(const std::vector<std::string>& keys);

    // A login attempt, decided and (when it may go on) counted as a failure before its
    // password is checked.
    struct LoginAttempt {
        std::int64_t wait = 0;         // > 0: refused for this many seconds, nothing counted
        bool companyExists = false;    // false: refused without a check
        unsigned companyFailures = 0;  // in a row, this attempt's included
        unsigned addressFailures = 0;
        std::vector<std::string> keys;     // all its keys, forgotten when it succeeds
        std::vector<std::string> counted;  // the keys it counted a failure of
    };
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
    // The network as known to the company from now on (see AttemptLogin).
    void RememberAddress(const std::string& code, const std::string& address);

    // Open conversations in order of opening, with their visitors' line counts and owners.
    std::vector<ConversationInfo> OpenConversations(std::int64_t companyId);
    // Conversations closed in the last `seconds`, in order of opening, with their owners.
    std::vector<ConversationInfo> RecentlyClosed(std::int64_t companyId, std::int64_t seconds);
    std::optional<ConversationInfo> CompanyConversation(std::int64_t companyId,
                                                        std::int32_t conversationId);
    // Whoever the conversation belongs to.
    LineResult AddOperatorLine(std::int64_t companyId, std::int32_t conversationId,
                               const std::string& text, const ConversationCaps& caps);
    // Stores it unless it is another live session's (Owned) in a company of one console each.
    LineResult AddOperatorLine(const OperatorSession& session, std::int32_t conversationId,
                               const std::string& text, const ConversationCaps& caps);
    CloseResult Close(std::int64_t companyId, std::int32_t conversationId);
    // Closes it unless it is another live session's (Owned) in a company of one console each.
    // The owner is checked by the statement that closes, so that a session given the
    // conversation meanwhile, on any service, keeps it.
    CloseResult Close(const OperatorSession& session, std::int32_t conversationId);

    // Refused when the company has `maxWaiting` open conversations already (0: no limit) after
    // those whose visitor has been silent for `silenceSeconds` (0: never) are closed.
    OpenedConversation OpenConversation(const std::string& companyCode,
                                        const std::string& visitorName, unsigned maxWaiting,
                                        unsigned silenceSeconds = 0);
    // The conversation only when the token is the one it was opened with. Its visitor counts
    // as heard from now; the time is written when it is `touchAfter` seconds old or more.
    std::optional<ConversationInfo> VisitorConversation(std::int32_t conversationId,
                                                        const std::string& token,
                                                        std::int64_t touchAfter = 30);
    LineResult AddVisitorLine(std::int32_t conversationId, const std::string& token,
                              const std::string& text, const ConversationCaps& caps);

    std::vector<StoredMessage> Messages(std::int32_t conversationId);

    // At most `limit` of the conversation's lines after its first `after` (after none when
    // `after` passes its count of lines), and whether it is open, as read in that order: a
    // closed conversation's lines are all there.
    ConversationNews LinesAfter(std::int32_t conversationId, std::size_t after, std::size_t limit);
    // The company's open conversations with their counts of lines.
    std::vector<ConversationActivity> OpenActivity(std::int64_t companyId);
    // The visitors of these open conversations count as heard from now.
    void TouchVisitors(const std::vector<std::int32_t>& conversationIds);

    // Tells `changed` of every conversation opened, given a line or closed, by this service or
    // another on the database, with its company; `unknown` when such changes may have gone
    // untold. Empty functions stop that; once this returns no former call is running.
    void WatchChanges(std::function<void(std::int64_t company, std::int32_t conversation)> changed,
                      std::function<void()> unknown);

    // Closes at most `batch` open conversations whose visitor has neither read nor written for
    // `silenceSeconds`; how many it closed.
    std::size_t CloseSilentConversations(std::int64_t silenceSeconds, std::size_t batch);

    // One small transaction of clean-up: at most `batch` rows of lapsed sessions, forgotten
    // failed logins and known addresses, and conversations closed more than `keepSeconds` ago
    // with their lines (0 keeps conversations for ever). Returns how many rows it removed, so
    // that a caller repeats it while it removes a full batch.
    std::size_t RemoveExpired(std::int64_t keepSeconds, std::size_t batch);

    // The web origins ("https://shop.example") whose pages may show the company's visitor page
    // in a frame. AllowSite and DisallowSite are false when there is no such company.
    bool AllowSite(const std::string& code, const std::string& origin);
    bool DisallowSite(const std::string& code, const std::string& origin);
    std::vector<std::string> AllowedSites(const std::string& code);

  private:
    void UpgradeSchema();
    // The unique index on the company code without regard to case, or a log line for each pair
    // of older codes that keeps it from being made.
    static void FoldCompanyCodes(SqlConnection& db);

    // The writes of an operator's line and of a close, on behalf of `asker` (which then must
    // not find the conversation another's), or of no session.
    LineResult StoreOperatorLine(std::int64_t companyId, std::int32_t conversationId,
                                 const std::string& text, const ConversationCaps& caps,
                                 const OperatorSession* asker);
    CloseResult CloseAs(std::int64_t companyId, std::int32_t conversationId,
                        const OperatorSession* asker);

    // Seconds between writes of an owner's last-asked time.
    std::int64_t OwnerTouchInterval() const;

    Clock clock_;
    std::unique_ptr<SqlDatabase> database_;
    std::int64_t ownerSilence_ = 120;
};

}  // namespace tertulia
