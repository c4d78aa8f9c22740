#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "service/form_fields.h"
#include "service/login_refusals.h"
#include "service/password_checks.h"
#include "service/rate_limits.h"
#include "service/storage.h"
#include "service/visitor_api.h"

namespace tertulia {

// What tells one console program from another across its sessions: a cookie that the service
// gives it at its first login and that its cookie jar sends back with every request until the
// program ends, so that a console that logs in again (after the service was out of reach)
// keeps the conversations it answers.
struct ConsoleCookie {
    static constexpr const char* kName = "tertulia_consola";
    std::string received;  // the request's, when it is one the service gave
    std::string toSet;     // for the reply to give, when the request carried none
};

// What the service answers to an operator's request: the reply's text (Windows-1252) and
// whether the request carried a line that was not stored, which the reply's header then says
// (the text says why).
struct OperatorReply {
    std::string text;
    bool lineNotStored = false;
};

// The service script "/tertulia.php": login, news, transcript (optionally storing a line first),
// closing a conversation, and the end of a session ("do_logout"), which hands its conversations
// to the company's other consoles at once. A login may name its console program by a key of
// its own ("consola", see IsConsoleKey), which a console keeps across its runs; without one
// the console's cookie names it. Replies are Windows-1252 text in exactly the forms the console
// reads; every refusal starts with "ERROR" and says why in Spanish, and "ERROR." means that the
// session is gone and the operator has to log in again. Failed logins make their client network
// wait, and an attacked company's unknown networks (see LoginAttempts::AttemptLogin); a waiting
// attempt is refused unchecked, and so is one finding the password checks full
// (PasswordChecks).
class OperatorApi {
  public:
    // The author name of the operator's lines in transcripts.
    static constexpr const char* kOperatorName = "Operador";
    static constexpr std::size_t kMaxLine = 2000;
    // How long the news names a closed conversation as closed: a console that polls every 30 s,
    // or sooner after a break in its event stream, hears of it at least a few times.
    static constexpr std::int64_t kClosedNewsSeconds = 120;

    OperatorApi(Storage& storage, const VisitorLimits& visitors, Clock clock)
        : storage_(storage),
          caps_(visitors.perConversation),
          pageGoneAfter_(PageGoneAfter(visitors)),
          clock_(std::move(clock)),
          refusals_(clock_) {}

    // The reply to a request with the query `fields` from the client at `client`.
    OperatorReply Answer(const FormFields& fields, const std::string& client,
                         ConsoleCookie& cookie);
    // The reply, in Windows-1252, to a request of a session that is unknown or lapsed.
    static std::string SessionGoneReply();
    // The reply, in Windows-1252, to a request that is refused for `reason` (UTF-8): a query
    // that does not parse, say.
    static std::string RefusalReply(std::string_view reason);

    // Logins refused since the start, by why.
    struct RefusedLogins {
        std::uint64_t credentials = 0;  // an unknown company or a wrong password
        std::uint64_t waiting = 0;      // too soon after failures
        std::uint64_t busy = 0;         // the password checks full
    };
    RefusedLogins Refused() const;

  private:
    friend class OperatorRequest;

    // Whether a request carried a line, and whether it was stored.
    struct LineOutcome {
        bool carried = false;
        bool stored = false;
    };
    std::string AnswerText(const FormFields& fields, const std::string& client,
                           ConsoleCookie& cookie, LineOutcome& line);

    Storage& storage_;
    ConversationCaps caps_;
    std::int64_t pageGoneAfter_;  // see PageGoneAfter
    Clock clock_;
    PasswordChecks checks_;
    LoginRefusals refusals_;
    // The operator says that it types at most every 2 s or so; per address, as visitors' lines.
    TokenBuckets typing_{60, 60};
    std::atomic<std::uint64_t> refusedCredentials_ = 0;
    std::atomic<std::uint64_t> refusedWaiting_ = 0;
    std::atomic<std::uint64_t> refusedBusy_ = 0;
};

}  // namespace tertulia
