#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "service/clock.h"
#include "service/sql_database.h"

namespace tertulia {

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

// Since when an owner must have asked, and its session have been used, to still have its
// conversations.
struct OwnerTimes {
    std::int64_t asked = 0;
    std::int64_t sessionUsed = 0;
};

// Operator sessions, and the open conversations each owns. Session ids are kept only as their
// SHA-256, so a copy of the database lets no one in.
class Sessions {
  public:
    // Sessions lapse after this long without a request.
    static constexpr std::int64_t kSessionLifetime = 30 * 60;
    // The session's last-use time is written at most this often, so that polls stay reads; a
    // session therefore lives at least its full lifetime after its last request.
    static constexpr std::int64_t kTouchInterval = 30;

    // A session used this recently counts as a console that is there, as for the visitors'
    // "atendida".
    static constexpr std::int64_t kPresentSeconds = 60;
    // A session that handed a conversation on is not given it again for this long, unless no
    // other session of the company is there.
    static constexpr std::int64_t kHandedOnSeconds = 10 * 60;

    Sessions(SqlDatabase& database, Clock clock) : database_(database), clock_(std::move(clock)) {}

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
    // The times an owner must have asked and been used since, at `now`, to keep its conversations.
    OwnerTimes OwnersAt(std::int64_t now) const;
    // Makes the open conversation the session's unless another live session has it, or the
    // session handed it on within kHandedOnSeconds while another session is there: Mine, or
    // Other; Free when it is closed or not the company's. One conditional update decides, so
    // that of sessions asking at once, on any service sharing the database, one gets it. The
    // time the owner last asked is written at most every OwnerTouchInterval seconds.
    ClaimResult Claim(const OperatorSession& session, std::int32_t conversationId);
    // The session's conversations count as asked for now (its event stream is held).
    void TouchOwned(const OperatorSession& session);
    // The company's other sessions used in the last kPresentSeconds.
    int OtherConsoles(const OperatorSession& session);

  private:
    // Seconds between writes of an owner's last-asked time.
    std::int64_t OwnerTouchInterval() const;

    SqlDatabase& database_;
    Clock clock_;
    std::int64_t ownerSilence_ = 120;
};

}  // namespace tertulia
