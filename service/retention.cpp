#include "service/retention.h"

#include "service/change_feed.h"
#include "service/login_attempts.h"
#include "service/sessions.h"

namespace tertulia {

namespace {

std::int64_t Count(std::size_t value) {
    return static_cast<std::int64_t>(value);
}

}  // namespace

std::size_t Retention::CloseSilentConversations(std::int64_t silenceSeconds, std::size_t batch) {
    const std::int64_t now = clock_();
    return database_.Write([&](SqlConnection& db) {
        const SqlRows closed = db.Run(
            "UPDATE conversations SET open = 0, closed_at = ? WHERE id IN (SELECT id FROM "
            "conversations WHERE open = 1 AND visitor_seen < ? LIMIT ?) RETURNING id, company_id",
            {now, now - silenceSeconds, Count(batch)});
        for (std::size_t row = 0; row < closed.size(); ++row) {
            AnnounceChange(db, closed.Int(row, 1), closed.Int(row, 0));
        }
        return closed.size();
    });
}

std::size_t Retention::RemoveExpired(std::int64_t keepSeconds, std::size_t batch) {
    const std::int64_t now = clock_();
    return database_.Write([&](SqlConnection& db) {
        std::size_t removed = 0;
        const auto remove = [&](const char* sql, std::int64_t before) {
            if (removed >= batch) return;
            removed += db.Run(sql, {before, Count(batch - removed)}).size();
        };
        remove(
            "DELETE FROM operator_sessions WHERE id_hash IN (SELECT id_hash FROM "
            "operator_sessions WHERE last_seen < ? LIMIT ?) RETURNING company_id",
            now - Sessions::kSessionLifetime - Sessions::kTouchInterval);
        remove(
            "DELETE FROM login_failures WHERE key IN (SELECT key FROM login_failures "
            "WHERE last < ? LIMIT ?) RETURNING count",
            now - LoginAttempts::kFailureMemory);
        remove(
            "DELETE FROM known_addresses WHERE (company_id, address) IN (SELECT company_id, "
            "address FROM known_addresses WHERE last_login < ? LIMIT ?) RETURNING company_id",
            now - LoginAttempts::kKnownAddressMemory);
        if (keepSeconds == 0) return removed;
        // Lines first: a conversation goes with the batch that finds it without lines.
        remove(
            "DELETE FROM messages WHERE id IN (SELECT m.id FROM conversations c "
            "JOIN messages m ON m.conversation_id = c.id "
            "WHERE c.open = 0 AND c.closed_at < ? LIMIT ?) RETURNING id",
            now - keepSeconds);
        remove(
            "DELETE FROM conversations WHERE id IN (SELECT c.id FROM conversations c "
            "WHERE c.open = 0 AND c.closed_at < ? AND NOT EXISTS "
            "(SELECT 1 FROM messages m WHERE m.conversation_id = c.id) LIMIT ?) RETURNING id",
            now - keepSeconds);
        return removed;
    });
}

}  // namespace tertulia
