#include "service/sessions.h"

#include <algorithm>

#include "service/change_feed.h"
#include "service/conversation_owners.h"
#include "service/secrets.h"

namespace tertulia {

std::optional<std::string> Sessions::Login(const std::string& code, const std::string& digestText,
                                           const std::string& console) {
    struct Found {
        std::int64_t companyId;
        PasswordHash hash;
    };
    const auto found = database_.Read([&](SqlConnection& db) -> std::optional<Found> {
        const SqlRows row =
            db.Run("SELECT id, salt, iterations, hash FROM companies WHERE code = ?", {code});
        if (row.empty()) return std::nullopt;
        return Found{row.Int(0, 0),
                     {row.Text(0, 1), static_cast<int>(row.Int(0, 2)), row.Text(0, 3)}};
    });
    if (!found || !DigestTextMatches(digestText, found->hash)) return std::nullopt;

    const std::string sessionId = RandomHex(16);
    const std::string idHash = Sha256Hex(sessionId);
    const std::int64_t now = clock_();
    const std::string consoleHash = console.empty() ? "" : Sha256Hex(console);
    database_.Write([&](SqlConnection& db) {
        db.Run(
            "INSERT INTO operator_sessions (id_hash, company_id, last_seen, console) "
            "VALUES (?, ?, ?, ?)",
            {std::string_view(idHash), found->companyId, now, std::string_view(consoleHash)});
        if (consoleHash.empty()) return;
        db.Run(
            "UPDATE conversations SET owner_session = ?, owner_seen = ? "
            "WHERE company_id = ? AND open = 1 AND owner_session IN (SELECT id_hash FROM "
            "operator_sessions WHERE company_id = ? AND console = ? AND id_hash <> ?)",
            {std::string_view(idHash), now, found->companyId, found->companyId,
             std::string_view(consoleHash), std::string_view(idHash)});
        db.Run(
            "UPDATE conversations SET handed_from = ? "
            "WHERE company_id = ? AND open = 1 AND handed_from IN (SELECT id_hash FROM "
            "operator_sessions WHERE company_id = ? AND console = ? AND id_hash <> ?)",
            {std::string_view(idHash), found->companyId, found->companyId,
             std::string_view(consoleHash), std::string_view(idHash)});
        db.Run(
            "DELETE FROM operator_sessions WHERE company_id = ? AND console = ? AND id_hash <> ?",
            {found->companyId, std::string_view(consoleHash), std::string_view(idHash)});
    });
    return sessionId;
}

bool Sessions::EndSession(const std::string& code, const std::string& sessionId) {
    const std::string idHash = Sha256Hex(sessionId);
    return database_.Write([&](SqlConnection& db) {
        const SqlRows ended = db.Run(
            "DELETE FROM operator_sessions WHERE id_hash = ? AND company_id IN "
            "(SELECT id FROM companies WHERE code = ?) RETURNING company_id",
            {std::string_view(idHash), std::string_view(code)});
        if (ended.empty()) return false;
        const std::int64_t companyId = ended.Int(0, 0);
        const SqlRows freed = db.Run(
            "UPDATE conversations SET owner_session = NULL "
            "WHERE owner_session = ? AND open = 1 RETURNING id",
            {std::string_view(idHash)});
        for (std::size_t row = 0; row < freed.size(); ++row) {
            AnnounceChange(db, companyId, freed.Int(row, 0));
        }
        return true;
    });
}

std::optional<std::int64_t> Sessions::SessionCompany(const std::string& code,
                                                     const std::string& sessionId) {
    const auto session = Session(code, sessionId);
    if (!session) return std::nullopt;
    return session->company;
}

std::optional<OperatorSession> Sessions::Session(const std::string& code,
                                                 const std::string& sessionId) {
    const std::int64_t now = clock_();
    const std::string idHash = Sha256Hex(sessionId);
    const SqlRows found = database_.Read([&](SqlConnection& db) {
        return db.Run(
            "SELECT s.company_id, s.last_seen, c.reparto FROM operator_sessions s "
            "JOIN companies c ON c.id = s.company_id WHERE s.id_hash = ? AND c.code = ?",
            {std::string_view(idHash), std::string_view(code)});
    });
    if (found.empty()) return std::nullopt;
    const std::int64_t lastSeen = found.Int(0, 1);
    if (now - lastSeen > kSessionLifetime + kTouchInterval) return std::nullopt;
    if (now - lastSeen >= kTouchInterval) {
        database_.Write([&](SqlConnection& db) {
            db.Run("UPDATE operator_sessions SET last_seen = ? WHERE id_hash = ? AND last_seen < ?",
                   {now, std::string_view(idHash), now});
        });
    }
    return OperatorSession{found.Int(0, 0), idHash, found.Text(0, 2) == "uno"};
}

OwnerTimes Sessions::OwnersAt(std::int64_t now) const {
    return {now - ownerSilence_, now - kSessionLifetime - kTouchInterval};
}

ClaimResult Sessions::Claim(const OperatorSession& session, std::int32_t conversationId) {
    const std::int64_t now = clock_();
    const OwnerTimes times = OwnersAt(now);
    const auto conversation = database_.Read([&](SqlConnection& db) {
        return db.Run(
            std::string("SELECT c.open, c.owner_seen, ") + kOwnerColumn +
                ", CASE WHEN c.handed_from = ? AND c.handed_at >= ? AND EXISTS (SELECT 1 FROM "
                "operator_sessions s WHERE s.company_id = c.company_id AND s.id_hash <> ? AND "
                "s.last_seen >= ?) THEN 1 ELSE 0 END"
                " FROM conversations c WHERE c.id = ? AND c.company_id = ?",
            {times.asked, times.sessionUsed, std::string_view(session.idHash),
             now - kHandedOnSeconds, std::string_view(session.idHash), now - kPresentSeconds,
             std::int64_t{conversationId}, session.company});
    });
    if (conversation.empty() || conversation.Int(0, 0) == 0) return ClaimResult::Free;
    const std::string owner = conversation.Text(0, 2);
    if (owner == session.idHash && now - conversation.Int(0, 1) < OwnerTouchInterval()) {
        return ClaimResult::Mine;
    }
    if (!owner.empty() && owner != session.idHash) return ClaimResult::Other;
    // Handed on lately, it is left to the others while one of them is there.
    if (owner.empty() && conversation.Int(0, 3) != 0) return ClaimResult::Other;
    // Taken, or its time renewed, only while no other live session has it.
    return database_.Write([&](SqlConnection& db) {
        const SqlRows taken = db.Run(
            std::string("UPDATE conversations SET owner_session = ?, owner_seen = ? WHERE id = ? "
                        "AND company_id = ? AND open = 1 AND ") +
                kNoOtherOwner + " RETURNING id",
            {std::string_view(session.idHash), now, std::int64_t{conversationId}, session.company,
             std::string_view(session.idHash), times.asked, times.sessionUsed});
        if (!taken.empty()) return ClaimResult::Mine;
        // Closed meanwhile belongs to no one; the console's transcript says that it ended.
        const SqlRows open =
            db.Run("SELECT open FROM conversations WHERE id = ?", {std::int64_t{conversationId}});
        return open.empty() || open.Int(0, 0) == 0 ? ClaimResult::Free : ClaimResult::Other;
    });
}

void Sessions::TouchOwned(const OperatorSession& session) {
    const std::int64_t now = clock_();
    database_.Write([&](SqlConnection& db) {
        db.Run(
            "UPDATE conversations SET owner_seen = ? "
            "WHERE owner_session = ? AND open = 1 AND owner_seen < ?",
            {now, std::string_view(session.idHash), now});
    });
}

int Sessions::OtherConsoles(const OperatorSession& session) {
    const std::int64_t now = clock_();
    const SqlRows count = database_.Read([&](SqlConnection& db) {
        return db.Run(
            "SELECT COUNT(*) FROM operator_sessions WHERE company_id = ? AND id_hash <> ? AND "
            "last_seen >= ?",
            {session.company, std::string_view(session.idHash), now - kPresentSeconds});
    });
    return static_cast<int>(count.Int(0, 0));
}

std::int64_t Sessions::OwnerTouchInterval() const {
    // Well within the silence that frees a conversation, and rare enough for polls to stay
    // reads.
    return std::clamp<std::int64_t>(ownerSilence_ / 4, 1, 15);
}

}  // namespace tertulia
