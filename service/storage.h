#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "service/sqlite_database.h"

namespace tertulia {

// Seconds since the epoch; tests pass their own clock to age sessions.
using Clock = std::function<std::int64_t()>;

struct ConversationInfo {
    std::int32_t id = 0;
    std::string visitorName;  // UTF-8
    bool open = false;
};

struct StoredMessage {
    bool fromOperator = false;
    std::string text;  // UTF-8
};

struct NewConversation {
    std::int32_t id = 0;
    std::string token;
};

enum class LineResult { Stored, NotFound, Closed };
enum class CloseResult { Closed, NotFound, AlreadyClosed };

// Companies, operator sessions, conversations and their messages, kept in one SQLite file.
// Every operation is one transaction, committed before it returns.
class Storage {
  public:
    // Sessions lapse after this long without a request.
    static constexpr std::int64_t kSessionLifetime = 30 * 60;

    Storage(const std::string& path, Clock clock);

    bool HasCompanies();
    // False when a company with this code exists already.
    bool AddCompany(const std::string& code, const std::string& digestText);

    // A new session id when the company exists and the digest text is its password's.
    std::optional<std::string> Login(const std::string& code, const std::string& digestText);
    // The company of a live session of company `code`; the session's lifetime starts again.
    std::optional<std::int64_t> SessionCompany(const std::string& code,
                                               const std::string& sessionId);

    std::vector<ConversationInfo> OpenConversations(std::int64_t companyId);
    std::optional<ConversationInfo> CompanyConversation(std::int64_t companyId,
                                                        std::int32_t conversationId);
    LineResult AddOperatorLine(std::int64_t companyId, std::int32_t conversationId,
                               const std::string& text);
    CloseResult Close(std::int64_t companyId, std::int32_t conversationId);

    // Nothing when the company does not exist.
    std::optional<NewConversation> OpenConversation(const std::string& companyCode,
                                                    const std::string& visitorName);
    // The conversation only when the token is the one it was opened with.
    std::optional<ConversationInfo> VisitorConversation(std::int32_t conversationId,
                                                        const std::string& token);
    LineResult AddVisitorLine(std::int32_t conversationId, const std::string& token,
                              const std::string& text);

    std::vector<StoredMessage> Messages(std::int32_t conversationId);

  private:
    Clock clock_;
    Database database_;
};

}  // namespace tertulia
