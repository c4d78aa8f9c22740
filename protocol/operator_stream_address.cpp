#include "protocol/operator_stream_address.h"

namespace tertulia {

namespace {

constexpr std::string_view kAction = "eventos";

}  // namespace

std::string OperatorStreamUrl(std::string_view base, std::string_view company,
                              std::string_view sessionId) {
    std::string url(base);
    url += kServiceScriptPath;
    url += "?accion=";
    url += kAction;
    url += "&idempresa=";
    url += company;
    url += "&idsesion=";
    url += sessionId;
    return url;
}

std::optional<OperatorStreamRequest> ReadOperatorStreamRequest(std::string_view path,
                                                               const QueryField& field) {
    if (path != kServiceScriptPath || field("accion") != kAction) return std::nullopt;
    std::optional<std::string> company = field("idempresa");
    std::optional<std::string> sessionId = field("idsesion");
    if (!company || !sessionId) return std::nullopt;
    return OperatorStreamRequest{std::move(*company), std::move(*sessionId)};
}

}  // namespace tertulia
