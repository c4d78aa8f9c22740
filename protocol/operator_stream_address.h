#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tertulia {

// The path of the service script, which serves the operator's session: its requests and its
// event stream.
inline constexpr std::string_view kServiceScriptPath = "/tertulia.php";

// The address of the operator's event stream for the server at `base` (without a trailing
// slash): the script with the action "eventos" and the session's company and id, as consoles
// in use send it. Values are inserted as they are, with no encoding, as in the script's other
// requests.
std::string OperatorStreamUrl(std::string_view base, std::string_view company,
                              std::string_view sessionId);

// The session a stream's request names, its values as sent (the company in Windows-1252).
struct OperatorStreamRequest {
    std::string company;
    std::string sessionId;
    bool operator==(const OperatorStreamRequest&) const = default;
};

// A request's query field by name, decoded; nothing when the query has no such field.
using QueryField = std::function<std::optional<std::string>(const std::string& name)>;

// The session whose stream a request to `path` with these query fields asks for; nothing when
// it asks for something else, or lacks the company or the session (the script's reply then
// says what is wrong).
std::optional<OperatorStreamRequest> ReadOperatorStreamRequest(std::string_view path,
                                                               const QueryField& field);

}  // namespace tertulia
