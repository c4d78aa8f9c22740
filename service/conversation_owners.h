#pragma once

// The SQL by which a conversation belongs to the operator session that asked for it, shared by
// the sessions that claim conversations and the conversations that check their owner.

namespace tertulia {

// The owner of conversation "c" while it has one, else ''; takes the two OwnerTimes.
inline constexpr const char* kOwnerColumn =
    "CASE WHEN c.owner_session IS NOT NULL AND c.owner_seen >= ? AND EXISTS (SELECT 1 FROM "
    "operator_sessions s WHERE s.id_hash = c.owner_session AND s.last_seen >= ?) "
    "THEN c.owner_session ELSE '' END";

// The condition, on a statement's row of "conversations", that it belongs to no live session
// but the one given; takes that session's id hash and the two OwnerTimes. Part of every write
// that depends on the owner, so that the owner a statement finds is the one it acts on,
// whatever another session or service does meanwhile.
inline constexpr const char* kNoOtherOwner =
    "(conversations.owner_session IS NULL OR conversations.owner_session = ? OR "
    "conversations.owner_seen < ? OR NOT EXISTS (SELECT 1 FROM operator_sessions s WHERE "
    "s.id_hash = conversations.owner_session AND s.last_seen >= ?))";

}  // namespace tertulia
