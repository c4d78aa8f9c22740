#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "service/sql_database.h"

namespace tertulia {

// Tells the services on the database, at the commit, that the conversation changed: it was
// opened, given a line, closed, or given to another session.
void AnnounceChange(SqlConnection& db, std::int64_t company, std::int64_t conversation);

// Who types in a conversation.
enum class TypingSide { Visitor, Operator };

// Tells the services on the database, at the commit, that one side of the conversation types;
// `owner` is the operator session it belongs to (see ConversationInfo). Nothing is stored.
void AnnounceTyping(SqlConnection& db, std::int64_t company, std::int64_t conversation,
                    TypingSide side, const std::string& owner);

// Tells the services on the database, at the commit, that the company's ready answers changed.
void AnnounceAnswers(SqlConnection& db, std::int64_t company);

using TypingHandler = std::function<void(std::int64_t company, std::int32_t conversation,
                                         TypingSide side, const std::string& owner)>;

using AnswersHandler = std::function<void(std::int64_t company)>;

// The watcher that hands each announced change to `changed` with its company, each typing to
// `typing`, each change of a company's ready answers to `answers`, and tells `unknown` when
// changes may have gone untold.
ChangeWatcher ConversationWatcher(
    std::function<void(std::int64_t company, std::int32_t conversation)> changed,
    std::function<void()> unknown, TypingHandler typing = {}, AnswersHandler answers = {});

}  // namespace tertulia
