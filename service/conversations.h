#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "service/change_feed.h"
#include "service/clock.h"
#include "service/sessions.h"
#include "service/sql_database.h"

namespace tertulia {

struct ConversationInfo {
    std::int32_t id = 0;
    std::string visitorName;  // UTF-8
    bool open = false;
    std::int64_t visitorLines = 0;  // lines its visitor has written
    // The id hash of the operator session it belongs to; empty while it belongs to nobody (see
    // Sessions::Claim).
    std::string owner;
};

struct StoredMessage {
    bool fromOperator = false;
    std::string text;  // UTF-8
    // Written by the service for the operator (the visitor ended, the page went away): never
    // shown to the visitor, never an operator's answer.
    bool fromService = false;
};

// What the visitor's page told of the conversation's start; each empty when not given.
struct VisitorContext {
    std::string contact;  // how to reach a visitor who left a message while nobody was there
    std::string page;
    std::string referrer;
    std::string language;
};

// An open conversation as typing in it is told: its company and owner (see ConversationInfo).
struct TypingTarget {
    std::int64_t company = 0;
    std::string owner;
};

enum class VisitorEndResult { Ended, NotFound, AlreadyClosed };
enum class RatingResult { Stored, NotFound, Open, AlreadyRated };

struct NewConversation {
    std::int32_t id = 0;
    std::string token;
};

// Owned: an operator's line into a conversation that another live session has (see
// Sessions::Claim).
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
// Alone: no other session of the company has been heard from lately.
enum class HandOnResult { HandedOn, NotFound, Closed, Owned, Alone };

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

// The conversations with their lines, and the feed that tells every service on the database of
// their changes. Visitor tokens are kept only as their SHA-256. Whom a conversation belongs to
// is the sessions' rule (`owners`).
class Conversations {
  public:
    Conversations(SqlDatabase& database, Clock clock, const Sessions& owners)
        : database_(database), clock_(std::move(clock)), owners_(owners) {}

    // Open conversations, of every company, in which no operator has written yet; read within
    // `bound` (or the usual deadline, where that is sooner).
    std::int64_t WaitingConversations(std::chrono::milliseconds bound);

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

    // Writes the service's `line` into the open conversation for the company's other consoles,
    // when another session of the company was used at `presentSince` or later. In a company of
    // one console each, the conversation is also released (unless another live session has it:
    // Owned) and marked as handed on by the session (see Sessions::Claim).
    HandOnResult HandOn(const OperatorSession& session, std::int32_t conversationId,
                        const std::string& line, std::int64_t presentSince);

    // Refused when the company has `maxWaiting` open conversations already (0: no limit) after
    // those whose visitor has been silent for `silenceSeconds` (0: never) are closed.
    // A contact makes it a message left while nobody was there.
    OpenedConversation OpenConversation(const std::string& companyCode,
                                        const std::string& visitorName, unsigned maxWaiting,
                                        unsigned silenceSeconds = 0,
                                        const VisitorContext& context = {});
    VisitorContext Context(std::int32_t conversationId);
    // The open conversation for this token, whose operator is to be told that its visitor types.
    std::optional<TypingTarget> VisitorTyping(std::int32_t conversationId,
                                              const std::string& token);

    // The visitor closes the conversation, with a line that tells its operator so.
    VisitorEndResult EndByVisitor(std::int32_t conversationId, const std::string& token,
                                  const std::string& line);
    // Tells the operator, once, that the visitor's page of this open conversation went away:
    // nothing was heard from it since `silentSince`. Messages left while nobody was there
    // have no page to go.
    void NotePageGone(std::int64_t companyId, std::int32_t conversationId, std::int64_t silentSince,
                      const std::string& line);
    // The visitor's one answer to whether they were helped, once the conversation is closed.
    RatingResult Rate(std::int32_t conversationId, const std::string& token, bool helped,
                      const std::string& comment);
    // The conversation only when the token is the one it was opened with. Its visitor counts
    // as heard from now; the time is written when it is `touchAfter` seconds old or more.
    std::optional<ConversationInfo> VisitorConversation(std::int32_t conversationId,
                                                        const std::string& token,
                                                        std::int64_t touchAfter = 30);
    LineResult AddVisitorLine(std::int32_t conversationId, const std::string& token,
                              const std::string& text, const ConversationCaps& caps);

    // With the service's lines, which the visitor is never shown.
    std::vector<StoredMessage> Messages(std::int32_t conversationId);

    // At most `limit` of the conversation's visitor's and operator's lines after its first `after`
    // (after none when `after` passes its count of lines), and whether it is open, as read in that
    // order: a closed conversation's lines are all there.
    ConversationNews LinesAfter(std::int32_t conversationId, std::size_t after, std::size_t limit);
    // The company's open conversations with their counts of lines.
    std::vector<ConversationActivity> OpenActivity(std::int64_t companyId);
    // The visitors of these open conversations count as heard from now.
    void TouchVisitors(const std::vector<std::int32_t>& conversationIds);

    // Tells `answered` the seconds from a conversation's opening to its first operator line,
    // stored by this service, after the line is committed. Set before any line is stored.
    void WatchFirstAnswers(std::function<void(std::int64_t seconds)> answered) {
        firstAnswers_ = std::move(answered);
    }

    // Tells `changed` of every conversation opened, given a line or closed, by this service or
    // another on the database, with its company; `unknown` when such changes may have gone
    // untold; `answers` of each change of a company's ready answers. Empty functions stop that;
    // once this returns no former call is running.
    void WatchChanges(std::function<void(std::int64_t company, std::int32_t conversation)> changed,
                      std::function<void()> unknown, TypingHandler typing = {},
                      AnswersHandler answers = {});
    // Tells every service on the database that one side of the conversation types.
    void AnnounceTyping(std::int64_t company, std::int32_t conversation, TypingSide side,
                        const std::string& owner);

  private:
    // The writes of an operator's line and of a close, on behalf of `asker` (which then must
    // not find the conversation another's), or of no session.
    LineResult StoreOperatorLine(std::int64_t companyId, std::int32_t conversationId,
                                 const std::string& text, const ConversationCaps& caps,
                                 const OperatorSession* asker);
    CloseResult CloseAs(std::int64_t companyId, std::int32_t conversationId,
                        const OperatorSession* asker);

    SqlDatabase& database_;
    Clock clock_;
    const Sessions& owners_;
    std::function<void(std::int64_t seconds)> firstAnswers_;
};

}  // namespace tertulia
