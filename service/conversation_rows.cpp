#include "service/conversation_rows.h"

#include "service/change_feed.h"
#include "service/conversation_owners.h"
#include "service/secrets.h"

namespace tertulia {

std::int64_t SqlCount(std::size_t value) {
    return static_cast<std::int64_t>(value);
}

ConversationInfo ConversationFrom(const SqlRows& rows, std::size_t row) {
    return {static_cast<std::int32_t>(rows.Int(row, 0)), rows.Text(row, 1), rows.Int(row, 2) != 0,
            rows.Int(row, 3), rows.Text(row, 4)};
}

// What an operator's write asks of the owner: nothing of a write made on no session's behalf, or
// in a company whose every console answers every conversation.
OwnerCheck CheckFor(const OperatorSession* asker, OwnerTimes times) {
    if (asker == nullptr || !asker->oneConsole) return {};
    return {true, asker->idHash, times};
}

// The columns that ConversationFrom reads, owner included, of conversations `c`.
std::string ListedColumns() {
    return std::string("SELECT c.id, c.visitor_name, c.open, c.visitor_lines, ") + kOwnerColumn +
           " FROM conversations c ";
}

std::vector<ConversationInfo> AllConversations(const SqlRows& rows) {
    std::vector<ConversationInfo> result;
    for (std::size_t row = 0; row < rows.size(); ++row) {
        result.push_back(ConversationFrom(rows, row));
    }
    return result;
}

StoredMessage MessageFrom(SqlRows& rows, std::size_t row) {
    const std::int64_t author = rows.Int(row, 0);
    return {author == 1, rows.TakeText(row, 1), author == kServiceAuthor};
}

// The service's lines are not counted with the conversation's: its caps and the visitor's
// stream concern the visitor's and the operator's.
void InsertServiceLine(SqlConnection& db, std::int64_t companyId, std::int64_t conversationId,
                       const std::string& text, std::int64_t now) {
    db.Run(
        "INSERT INTO messages (conversation_id, from_operator, text, sent_at) "
        "VALUES (?, ?, ?, ?)",
        {conversationId, kServiceAuthor, std::string_view(text), now});
    AnnounceChange(db, companyId, conversationId);
}

std::optional<ConversationInfo> FirstConversation(const SqlRows& rows) {
    if (rows.empty()) return std::nullopt;
    return ConversationFrom(rows, 0);
}

std::optional<ConversationInfo> FindCompanyConversation(SqlConnection& db, std::int64_t companyId,
                                                        std::int32_t conversationId,
                                                        OwnerTimes times) {
    return FirstConversation(
        db.Run(std::string("SELECT c.id, c.visitor_name, c.open, c.visitor_lines, ") +
                   kOwnerColumn + " FROM conversations c WHERE c.id = ? AND c.company_id = ?",
               {times.asked, times.sessionUsed, std::int64_t{conversationId}, companyId}));
}

std::optional<ConversationInfo> FindVisitorConversation(SqlConnection& db,
                                                        std::int32_t conversationId,
                                                        const std::string& token) {
    const std::string tokenHash = Sha256Hex(token);
    return FirstConversation(
        db.Run("SELECT id, visitor_name, open, visitor_lines, '' FROM conversations "
               "WHERE id = ? AND token_hash = ?",
               {std::int64_t{conversationId}, std::string_view(tokenHash)}));
}

// Counts the line into its conversation, within the caps and its owner's claim, and stores it.
// The counting is one conditional update of the conversation's row, so that services sharing a
// database never let a conversation past its caps, or a line into another session's
// conversation, between them. A visitor's line also marks its visitor as there. An operator's
// line that is the conversation's first sets `firstAnswer` to the seconds since its opening.
LineResult InsertLine(SqlConnection& db, std::optional<ConversationInfo> conversation,
                      bool fromOperator, const std::string& text, const ConversationCaps& caps,
                      const OwnerCheck& owner, std::int64_t now,
                      std::optional<std::int64_t>* firstAnswer) {
    if (!conversation) return LineResult::NotFound;
    if (!conversation->open) return LineResult::Closed;
    const std::int64_t id = conversation->id;
    const std::int64_t bytes = SqlCount(text.size());
    const std::int64_t checked = owner.checked ? 1 : 0;
    const SqlRows counted = db.Run(
        std::string(
            "UPDATE conversations SET line_count = line_count + 1, byte_count = byte_count + ?, "
            "visitor_lines = visitor_lines + ?, "
            "visitor_seen = CASE WHEN ? = 1 THEN ? ELSE visitor_seen END "
            "WHERE id = ? AND open = 1 AND (? = 0 OR line_count < ?) "
            "AND (? = 0 OR byte_count + ? <= ?) AND (? = 0 OR ") +
            kNoOtherOwner + ") RETURNING company_id, line_count - visitor_lines, opened_at",
        {bytes, std::int64_t{fromOperator ? 0 : 1}, std::int64_t{fromOperator ? 0 : 1}, now, id,
         std::int64_t{caps.lines}, std::int64_t{caps.lines}, SqlCount(caps.bytes), bytes,
         SqlCount(caps.bytes), checked, std::string_view(owner.idHash), owner.times.asked,
         owner.times.sessionUsed});
    if (counted.empty()) {
        const SqlRows state =
            db.Run(std::string("SELECT open, CASE WHEN ? = 0 OR ") + kNoOtherOwner +
                       " THEN 1 ELSE 0 END FROM conversations WHERE id = ?",
                   {checked, std::string_view(owner.idHash), owner.times.asked,
                    owner.times.sessionUsed, id});
        // Gone since it was found: removed with its company.
        if (state.empty()) return LineResult::NotFound;
        if (state.Int(0, 0) == 0) return LineResult::Closed;
        return state.Int(0, 1) == 0 ? LineResult::Owned : LineResult::Full;
    }
    db.Run(
        "INSERT INTO messages (conversation_id, from_operator, text, sent_at) "
        "VALUES (?, ?, ?, ?)",
        {id, std::int64_t{fromOperator ? 1 : 0}, std::string_view(text), now});
    // The counters tell it without reading the lines: this line is the only one not the visitor's.
    if (fromOperator && firstAnswer != nullptr && counted.Int(0, 1) == 1) {
        *firstAnswer = now - counted.Int(0, 2);
    }
    AnnounceChange(db, counted.Int(0, 0), id);
    return LineResult::Stored;
}

}  // namespace tertulia
