#include "service/change_feed.h"

#include <stdexcept>
#include <string>
#include <string_view>

namespace tertulia {

void AnnounceChange(SqlConnection& db, std::int64_t company, std::int64_t conversation) {
    db.Announce(std::to_string(company) + ":" + std::to_string(conversation));
}

namespace {

// Typing is announced as "escribiendo:v|o:COMPANY:CONVERSATION:OWNER": a service that reads only
// changes finds no company number at its start and passes it by.
constexpr std::string_view kTypingMark = "escribiendo:";
// The same for "respuestas:COMPANY".
constexpr std::string_view kAnswersMark = "respuestas:";

void HandTyping(const TypingHandler& typing, std::string_view change) {
    if (!typing || change.size() < 2 || change[1] != ':') return;
    const TypingSide side = change[0] == 'o' ? TypingSide::Operator : TypingSide::Visitor;
    change.remove_prefix(2);
    const std::size_t first = change.find(':');
    const std::size_t second = change.find(':', first == std::string_view::npos ? 0 : first + 1);
    if (second == std::string_view::npos) return;
    try {
        typing(std::stoll(std::string(change.substr(0, first))),
               static_cast<std::int32_t>(std::stol(std::string(change.substr(first + 1)))), side,
               std::string(change.substr(second + 1)));
    } catch (const std::logic_error&) {
    }
}

}  // namespace

void AnnounceTyping(SqlConnection& db, std::int64_t company, std::int64_t conversation,
                    TypingSide side, const std::string& owner) {
    db.Announce(std::string(kTypingMark) + (side == TypingSide::Operator ? "o:" : "v:") +
                std::to_string(company) + ":" + std::to_string(conversation) + ":" + owner);
}

void AnnounceAnswers(SqlConnection& db, std::int64_t company) {
    db.Announce(std::string(kAnswersMark) + std::to_string(company));
}

ChangeWatcher ConversationWatcher(
    std::function<void(std::int64_t company, std::int32_t conversation)> changed,
    std::function<void()> unknown, TypingHandler typing, AnswersHandler answers) {
    ChangeWatcher watcher;
    if (changed) {
        watcher.changed = [changed = std::move(changed), typing = std::move(typing),
                           answers = std::move(answers)](const std::string& change) {
            if (change.starts_with(kTypingMark)) {
                HandTyping(typing, std::string_view(change).substr(kTypingMark.size()));
                return;
            }
            if (change.starts_with(kAnswersMark)) {
                try {
                    if (answers) answers(std::stoll(change.substr(kAnswersMark.size())));
                } catch (const std::logic_error&) {
                }
                return;
            }
            const std::size_t colon = change.find(':');
            if (colon == std::string::npos) return;
            try {
                changed(std::stoll(change.substr(0, colon)),
                        static_cast<std::int32_t>(std::stol(change.substr(colon + 1))));
            } catch (const std::logic_error&) {
                // Not one of this service's announcements: nothing to wake.
            }
        };
    }
    watcher.unknown = std::move(unknown);
    return watcher;
}

}  // namespace tertulia
