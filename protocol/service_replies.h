#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "protocol/service_protocol.h"

namespace tertulia {

// The service's side of the replies that the console reads with Read*Reply: each writer
// makes the reply that its reader reads back to the same values. Texts are Windows-1252.

// "OK=" and the new session's id.
std::string WriteLoginReply(std::string_view sessionId);
// "OK", the visitors' line counts ("lineas=ID:COUNT;...") and the conversations closed lately
// (";cerrada=ID", pairs without the colon that an older console skips) where a console that
// knows them finds them and any other reads nothing, then "ID=NAME|" for each open conversation.
std::string WriteNewsReply(const std::vector<NewsEntry>& entries,
                           const std::vector<VisitorLines>& visitorLines,
                           const std::vector<std::int32_t>& closed = {});
// The close request's success.
std::string WriteCloseReply();
// The end of a session.
std::string WriteLogoutReply();
// The header, name and value, of a send reply whose line the service did not store.
std::pair<std::string, std::string> LineNotStoredHeader();
// The number of the company's other consoles heard from lately.
std::string WriteOtherConsolesReply(int count);
// The update check: outdated, with the new program's digest text and address, or up to date.
std::string WriteUpdateReply(const UpdateReply& update);

}  // namespace tertulia
