#include "service/conversations.h"

#include <limits>
#include <stdexcept>

#include "service/change_feed.h"
#include "service/conversation_owners.h"
#include "service/conversation_rows.h"
#include "service/secrets.h"

namespace tertulia {

std::int64_t Conversations::WaitingConversations(std::chrono::milliseconds bound) {
    return database_.ReadWithin(bound, [](SqlConnection& db) {
        return db
            .Run("SELECT COUNT(*) FROM conversations WHERE open = 1 AND line_count = visitor_lines")
            .Int(0, 0);
    });
}

std::vector<ConversationInfo> Conversations::OpenConversations(std::int64_t companyId) {
    const OwnerTimes times = owners_.OwnersAt(clock_());
    return AllConversations(database_.Read([&](SqlConnection& db) {
        return db.Run(ListedColumns() + "WHERE c.company_id = ? AND c.open = 1 ORDER BY c.id",
                      {times.asked, times.sessionUsed, companyId});
    }));
}

std::vector<ConversationInfo> Conversations::RecentlyClosed(std::int64_t companyId,
                                                            std::int64_t seconds) {
    const std::int64_t now = clock_();
    const OwnerTimes times = owners_.OwnersAt(now);
    return AllConversations(database_.Read([&](SqlConnection& db) {
        return db.Run(
            ListedColumns() +
                "WHERE c.open = 0 AND c.closed_at >= ? AND c.company_id = ? ORDER BY c.id",
            {times.asked, times.sessionUsed, now - seconds, companyId});
    }));
}

std::optional<ConversationInfo> Conversations::CompanyConversation(std::int64_t companyId,
                                                                   std::int32_t conversationId) {
    const OwnerTimes times = owners_.OwnersAt(clock_());
    return database_.Read([&](SqlConnection& db) {
        return FindCompanyConversation(db, companyId, conversationId, times);
    });
}

LineResult Conversations::AddOperatorLine(std::int64_t companyId, std::int32_t conversationId,
                                          const std::string& text, const ConversationCaps& caps) {
    return StoreOperatorLine(companyId, conversationId, text, caps, nullptr);
}

LineResult Conversations::AddOperatorLine(const OperatorSession& session,
                                          std::int32_t conversationId, const std::string& text,
                                          const ConversationCaps& caps) {
    return StoreOperatorLine(session.company, conversationId, text, caps, &session);
}

LineResult Conversations::StoreOperatorLine(std::int64_t companyId, std::int32_t conversationId,
                                            const std::string& text, const ConversationCaps& caps,
                                            const OperatorSession* asker) {
    const std::int64_t now = clock_();
    const OwnerTimes times = owners_.OwnersAt(now);
    std::optional<std::int64_t> firstAnswer;
    const LineResult result = database_.Write([&](SqlConnection& db) {
        // A transaction tried again starts afresh.
        firstAnswer.reset();
        return InsertLine(db, FindCompanyConversation(db, companyId, conversationId, times), true,
                          text, caps, CheckFor(asker, times), now, &firstAnswer);
    });
    if (firstAnswer && firstAnswers_) firstAnswers_(*firstAnswer);
    return result;
}

CloseResult Conversations::Close(std::int64_t companyId, std::int32_t conversationId) {
    return CloseAs(companyId, conversationId, nullptr);
}

CloseResult Conversations::Close(const OperatorSession& session, std::int32_t conversationId) {
    return CloseAs(session.company, conversationId, &session);
}

CloseResult Conversations::CloseAs(std::int64_t companyId, std::int32_t conversationId,
                                   const OperatorSession* asker) {
    const std::int64_t now = clock_();
    const OwnerTimes times = owners_.OwnersAt(now);
    const OwnerCheck owner = CheckFor(asker, times);
    return database_.Write([&](SqlConnection& db) {
        const std::int64_t id = conversationId;
        const SqlRows closed =
            db.Run(std::string("UPDATE conversations SET open = 0, closed_at = ? "
                               "WHERE id = ? AND company_id = ? AND open = 1 AND (? = 0 OR ") +
                       kNoOtherOwner + ") RETURNING id",
                   {now, id, companyId, std::int64_t{owner.checked ? 1 : 0},
                    std::string_view(owner.idHash), owner.times.asked, owner.times.sessionUsed});
        if (!closed.empty()) {
            AnnounceChange(db, companyId, id);
            return CloseResult::Closed;
        }
        const auto conversation = FindCompanyConversation(db, companyId, conversationId, times);
        if (!conversation) return CloseResult::NotFound;
        return conversation->open ? CloseResult::Owned : CloseResult::AlreadyClosed;
    });
}

HandOnResult Conversations::HandOn(const OperatorSession& session, std::int32_t conversationId,
                                   const std::string& line, std::int64_t presentSince) {
    const std::int64_t now = clock_();
    const OwnerTimes times = owners_.OwnersAt(now);
    return database_.Write([&](SqlConnection& db) {
        const auto conversation =
            FindCompanyConversation(db, session.company, conversationId, times);
        if (!conversation) return HandOnResult::NotFound;
        if (!conversation->open) return HandOnResult::Closed;
        const SqlRows others = db.Run(
            "SELECT 1 FROM operator_sessions WHERE company_id = ? AND id_hash <> ? AND "
            "last_seen >= ? LIMIT 1",
            {session.company, std::string_view(session.idHash), presentSince});
        if (others.empty()) return HandOnResult::Alone;
        if (session.oneConsole) {
            const SqlRows released = db.Run(
                std::string("UPDATE conversations SET owner_session = NULL, handed_from = ?, "
                            "handed_at = ? WHERE id = ? AND open = 1 AND ") +
                    kNoOtherOwner + " RETURNING id",
                {std::string_view(session.idHash), now, std::int64_t{conversationId},
                 std::string_view(session.idHash), times.asked, times.sessionUsed});
            if (released.empty()) return HandOnResult::Owned;
        }
        InsertServiceLine(db, session.company, conversationId, line, now);
        return HandOnResult::HandedOn;
    });
}

OpenedConversation Conversations::OpenConversation(const std::string& companyCode,
                                                   const std::string& visitorName,
                                                   unsigned maxWaiting, unsigned silenceSeconds,
                                                   const VisitorContext& context) {
    const std::string token = RandomHex(16);
    const std::string tokenHash = Sha256Hex(token);
    const std::int64_t now = clock_();
    using Outcome = OpenedConversation::Outcome;
    return database_.Write([&](SqlConnection& db) -> OpenedConversation {
        // Touching the company's row locks it until the commit, so that services sharing a
        // database count the company's waiting conversations one opening at a time.
        const SqlRows company =
            db.Run("UPDATE companies SET code = code WHERE code = ? RETURNING id", {companyCode});
        if (company.empty()) return {Outcome::NoCompany, {}};
        const std::int64_t companyId = company.Int(0, 0);
        const auto waiting = [&] {
            return db
                .Run("SELECT COUNT(*) FROM conversations WHERE company_id = ? AND open = 1",
                     {companyId})
                .Int(0, 0);
        };
        if (maxWaiting != 0 && waiting() >= std::int64_t{maxWaiting}) {
            // Places held by visitors who have gone are given to the new one.
            if (silenceSeconds == 0) return {Outcome::TooManyWaiting, {}};
            const SqlRows closed = db.Run(
                "UPDATE conversations SET open = 0, closed_at = ? "
                "WHERE company_id = ? AND open = 1 AND visitor_seen < ? RETURNING id",
                {now, companyId, now - std::int64_t{silenceSeconds}});
            for (std::size_t row = 0; row < closed.size(); ++row) {
                AnnounceChange(db, companyId, closed.Int(row, 0));
            }
            if (waiting() >= std::int64_t{maxWaiting}) return {Outcome::TooManyWaiting, {}};
        }
        const SqlRows inserted = db.Run(
            "INSERT INTO conversations "
            "(company_id, visitor_name, token_hash, open, opened_at, visitor_seen, contact, page, "
            "referrer, language, offline) "
            "VALUES (?, ?, ?, 1, ?, ?, NULLIF(?, ''), NULLIF(?, ''), NULLIF(?, ''), NULLIF(?, ''), "
            "?) "
            "RETURNING id",
            {companyId, std::string_view(visitorName), std::string_view(tokenHash), now, now,
             std::string_view(context.contact), std::string_view(context.page),
             std::string_view(context.referrer), std::string_view(context.language),
             std::int64_t{context.contact.empty() ? 0 : 1}});
        const std::int64_t id = inserted.Int(0, 0);
        // Conversation ids travel as signed 32-bit integers to the console.
        if (id > std::numeric_limits<std::int32_t>::max()) {
            throw std::runtime_error("conversation ids exhausted");
        }
        AnnounceChange(db, companyId, id);
        return {Outcome::Opened, NewConversation{static_cast<std::int32_t>(id), token}};
    });
}

VisitorContext Conversations::Context(std::int32_t conversationId) {
    SqlRows rows = database_.Read([&](SqlConnection& db) {
        return db.Run(
            "SELECT COALESCE(contact, ''), COALESCE(page, ''), COALESCE(referrer, ''), "
            "COALESCE(language, '') FROM conversations WHERE id = ?",
            {std::int64_t{conversationId}});
    });
    if (rows.empty()) return {};
    return {rows.TakeText(0, 0), rows.TakeText(0, 1), rows.TakeText(0, 2), rows.TakeText(0, 3)};
}

std::optional<TypingTarget> Conversations::VisitorTyping(std::int32_t conversationId,
                                                         const std::string& token) {
    const OwnerTimes times = owners_.OwnersAt(clock_());
    const std::string tokenHash = Sha256Hex(token);
    const SqlRows rows = database_.Read([&](SqlConnection& db) {
        return db.Run(
            std::string("SELECT c.company_id, ") + kOwnerColumn +
                " FROM conversations c WHERE c.id = ? AND c.token_hash = ? AND c.open = 1",
            {times.asked, times.sessionUsed, std::int64_t{conversationId},
             std::string_view(tokenHash)});
    });
    if (rows.empty()) return std::nullopt;
    return TypingTarget{rows.Int(0, 0), rows.Text(0, 1)};
}

VisitorEndResult Conversations::EndByVisitor(std::int32_t conversationId, const std::string& token,
                                             const std::string& line) {
    const std::int64_t now = clock_();
    const std::string tokenHash = Sha256Hex(token);
    return database_.Write([&](SqlConnection& db) {
        const std::int64_t id = conversationId;
        const SqlRows closed = db.Run(
            "UPDATE conversations SET open = 0, closed_at = ? "
            "WHERE id = ? AND token_hash = ? AND open = 1 RETURNING company_id",
            {now, id, std::string_view(tokenHash)});
        if (!closed.empty()) {
            InsertServiceLine(db, closed.Int(0, 0), id, line, now);
            return VisitorEndResult::Ended;
        }
        return FindVisitorConversation(db, conversationId, token) ? VisitorEndResult::AlreadyClosed
                                                                  : VisitorEndResult::NotFound;
    });
}

void Conversations::NotePageGone(std::int64_t companyId, std::int32_t conversationId,
                                 std::int64_t silentSince, const std::string& line) {
    const std::int64_t now = clock_();
    const std::int64_t id = conversationId;
    // A read first: the writes are for the rare conversation whose page went.
    const bool gone = database_.Read([&](SqlConnection& db) {
        return !db.Run(
                      "SELECT id FROM conversations WHERE id = ? AND company_id = ? AND open = 1 "
                      "AND offline = 0 AND page_gone = 0 AND visitor_seen < ?",
                      {id, companyId, silentSince})
                    .empty();
    });
    if (!gone) return;
    database_.Write([&](SqlConnection& db) {
        const SqlRows marked = db.Run(
            "UPDATE conversations SET page_gone = 1 WHERE id = ? AND company_id = ? AND open = 1 "
            "AND offline = 0 AND page_gone = 0 AND visitor_seen < ? RETURNING id",
            {id, companyId, silentSince});
        if (!marked.empty()) InsertServiceLine(db, companyId, id, line, now);
    });
}

RatingResult Conversations::Rate(std::int32_t conversationId, const std::string& token, bool helped,
                                 const std::string& comment) {
    const std::string tokenHash = Sha256Hex(token);
    return database_.Write([&](SqlConnection& db) {
        const std::int64_t id = conversationId;
        const SqlRows rated = db.Run(
            "UPDATE conversations SET helped = ?, rating_comment = NULLIF(?, '') "
            "WHERE id = ? AND token_hash = ? AND open = 0 AND helped IS NULL RETURNING id",
            {std::int64_t{helped ? 1 : 0}, std::string_view(comment), id,
             std::string_view(tokenHash)});
        if (!rated.empty()) return RatingResult::Stored;
        const auto conversation = FindVisitorConversation(db, conversationId, token);
        if (!conversation) return RatingResult::NotFound;
        return conversation->open ? RatingResult::Open : RatingResult::AlreadyRated;
    });
}

std::optional<ConversationInfo> Conversations::VisitorConversation(std::int32_t conversationId,
                                                                   const std::string& token,
                                                                   std::int64_t touchAfter) {
    const std::int64_t now = clock_();
    const std::string tokenHash = Sha256Hex(token);
    std::int64_t heard = 0;
    auto conversation = database_.Read([&](SqlConnection& db) {
        const SqlRows rows = db.Run(
            "SELECT id, visitor_name, open, visitor_lines, '', visitor_seen FROM conversations "
            "WHERE id = ? AND token_hash = ?",
            {std::int64_t{conversationId}, std::string_view(tokenHash)});
        if (!rows.empty()) heard = rows.Int(0, 5);
        return FirstConversation(rows);
    });
    // Reads stay reads but for a write now and then.
    if (conversation && conversation->open && now - heard >= touchAfter) {
        TouchVisitors({conversationId});
    }
    return conversation;
}

LineResult Conversations::AddVisitorLine(std::int32_t conversationId, const std::string& token,
                                         const std::string& text, const ConversationCaps& caps) {
    const std::int64_t now = clock_();
    return database_.Write([&](SqlConnection& db) {
        return InsertLine(db, FindVisitorConversation(db, conversationId, token), false, text, caps,
                          OwnerCheck{}, now);
    });
}

std::vector<StoredMessage> Conversations::Messages(std::int32_t conversationId) {
    SqlRows rows = database_.Read([&](SqlConnection& db) {
        return db.Run(
            "SELECT from_operator, text FROM messages WHERE conversation_id = ? ORDER BY id",
            {std::int64_t{conversationId}});
    });
    std::vector<StoredMessage> result;
    result.reserve(rows.size());
    for (std::size_t row = 0; row < rows.size(); ++row) result.push_back(MessageFrom(rows, row));
    return result;
}

ConversationNews Conversations::LinesAfter(std::int32_t conversationId, std::size_t after,
                                           std::size_t limit) {
    return database_.Read([&](SqlConnection& db) {
        ConversationNews news;
        const SqlRows state = db.Run("SELECT open, line_count FROM conversations WHERE id = ?",
                                     {std::int64_t{conversationId}});
        if (state.empty()) return news;
        news.found = true;
        news.open = state.Int(0, 0) != 0;
        const std::int64_t lines = state.Int(0, 1);
        news.first = after <= static_cast<std::uint64_t>(lines) ? after : 0;
        SqlRows rows = db.Run(
            "SELECT from_operator, text FROM messages WHERE conversation_id = ? "
            "AND from_operator < ? ORDER BY id LIMIT ? OFFSET ?",
            {std::int64_t{conversationId}, kServiceAuthor, SqlCount(limit), SqlCount(news.first)});
        for (std::size_t row = 0; row < rows.size(); ++row) {
            news.lines.push_back(MessageFrom(rows, row));
        }
        return news;
    });
}

std::vector<ConversationActivity> Conversations::OpenActivity(std::int64_t companyId) {
    const OwnerTimes times = owners_.OwnersAt(clock_());
    const SqlRows rows = database_.Read([&](SqlConnection& db) {
        return db.Run(std::string("SELECT c.id, c.visitor_lines, c.line_count, ") + kOwnerColumn +
                          " FROM conversations c WHERE c.company_id = ? AND c.open = 1 ORDER BY "
                          "c.id",
                      {times.asked, times.sessionUsed, companyId});
    });
    std::vector<ConversationActivity> result;
    for (std::size_t row = 0; row < rows.size(); ++row) {
        result.push_back({static_cast<std::int32_t>(rows.Int(row, 0)), rows.Int(row, 1),
                          rows.Int(row, 2), rows.Text(row, 3)});
    }
    return result;
}

void Conversations::TouchVisitors(const std::vector<std::int32_t>& conversationIds) {
    if (conversationIds.empty()) return;
    const std::int64_t now = clock_();
    database_.Write([&](SqlConnection& db) {
        for (const std::int32_t id : conversationIds) {
            db.Run(
                "UPDATE conversations SET visitor_seen = ? "
                "WHERE id = ? AND open = 1 AND visitor_seen < ?",
                {now, std::int64_t{id}, now});
        }
    });
}

void Conversations::WatchChanges(
    std::function<void(std::int64_t company, std::int32_t conversation)> changed,
    std::function<void()> unknown, TypingHandler typing, AnswersHandler answers) {
    database_.WatchChanges(ConversationWatcher(std::move(changed), std::move(unknown),
                                               std::move(typing), std::move(answers)));
}

void Conversations::AnnounceTyping(std::int64_t company, std::int32_t conversation, TypingSide side,
                                   const std::string& owner) {
    database_.Write([&](SqlConnection& db) {
        tertulia::AnnounceTyping(db, company, conversation, side, owner);
    });
}

}  // namespace tertulia
