#pragma once

// The rows of conversations and their lines as the Conversations unit reads and writes them:
// shared by its files, not used elsewhere.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "service/conversations.h"
#include "service/sql_database.h"

namespace tertulia {

// Whose conversation an operator's write may touch: any, or only one that belongs to no live
// session but `idHash`.
struct OwnerCheck {
    bool checked = false;
    std::string idHash;
    OwnerTimes times;
};

// from_operator of the service's own lines.
constexpr std::int64_t kServiceAuthor = 2;

// A size as the database takes numbers.
std::int64_t SqlCount(std::size_t value);

ConversationInfo ConversationFrom(const SqlRows& rows, std::size_t row);

// What an operator's write asks of the owner: nothing of a write made on no session's behalf, or
// in a company whose every console answers every conversation.
OwnerCheck CheckFor(const OperatorSession* asker, OwnerTimes times);

// The columns that ConversationFrom reads, owner included, of conversations `c`.
std::string ListedColumns();

std::vector<ConversationInfo> AllConversations(const SqlRows& rows);

StoredMessage MessageFrom(SqlRows& rows, std::size_t row);

// The service's lines are not counted with the conversation's: its caps and the visitor's
// stream concern the visitor's and the operator's.
void InsertServiceLine(SqlConnection& db, std::int64_t companyId, std::int64_t conversationId,
                       const std::string& text, std::int64_t now);

std::optional<ConversationInfo> FirstConversation(const SqlRows& rows);

std::optional<ConversationInfo> FindCompanyConversation(SqlConnection& db, std::int64_t companyId,
                                                        std::int32_t conversationId,
                                                        OwnerTimes times);

std::optional<ConversationInfo> FindVisitorConversation(SqlConnection& db,
                                                        std::int32_t conversationId,
                                                        const std::string& token);

// Counts the line into its conversation, within the caps and its owner's claim, and stores it.
// The counting is one conditional update of the conversation's row, so that services sharing a
// database never let a conversation past its caps, or a line into another session's
// conversation, between them. A visitor's line also marks its visitor as there. An operator's
// line that is the conversation's first sets `firstAnswer` to the seconds since its opening.
LineResult InsertLine(SqlConnection& db, std::optional<ConversationInfo> conversation,
                      bool fromOperator, const std::string& text, const ConversationCaps& caps,
                      const OwnerCheck& owner, std::int64_t now,
                      std::optional<std::int64_t>* firstAnswer = nullptr);

}  // namespace tertulia
