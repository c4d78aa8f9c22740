#include "service/change_feed.h"

#include <stdexcept>
#include <string>

namespace tertulia {

void AnnounceChange(SqlConnection& db, std::int64_t company, std::int64_t conversation) {
    db.Announce(std::to_string(company) + ":" + std::to_string(conversation));
}

ChangeWatcher ConversationWatcher(
    std::function<void(std::int64_t company, std::int32_t conversation)> changed,
    std::function<void()> unknown) {
    ChangeWatcher watcher;
    if (changed) {
        watcher.changed = [changed = std::move(changed)](const std::string& change) {
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
