#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tertulia {

// The texts of the desktop notifications of conversations that wait. Windows-1252 bytes.

// A notification's body shows this much of the visitor's line at most.
inline constexpr std::size_t kNotificationLineLength = 120;
// With more waiting conversations than this, one notification stands for them all.
inline constexpr int kMostConversationNotifications = 3;

// The body for a visitor's line: the line, or its first kNotificationLineLength characters
// followed by "…".
std::string NotificationBody(std::string_view visitorLine);

// The text of the last line that the visitor `visitorName` wrote in a transcript reply, as the
// window shows it; none when the reply is an "ERROR" or holds no line of the visitor's.
std::optional<std::string> UltimaLineaDelVisitante(std::string_view reply,
                                                   std::string_view visitorName);

// How many lines of a transcript reply the visitor `visitorName` wrote; 0 for an "ERROR".
std::int64_t LineasEscritasPor(std::string_view reply, std::string_view visitorName);

// The one notification of many waiting conversations: "14 conversaciones esperan respuesta".
std::string WaitingSummary(int count);

}  // namespace tertulia
