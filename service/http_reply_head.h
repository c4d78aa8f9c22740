#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tertulia {

// The head of a reply that the server writes on its own socket, as the HTTP library writes its
// others: the status line, the date, "Connection: close" when the connection ends with the
// reply, the reply's headers, and "Transfer-Encoding: chunked" for a body in chunks.
std::string ReplyHead(int status, const std::vector<std::pair<std::string, std::string>>& headers,
                      bool chunked, bool closing);

}  // namespace tertulia
