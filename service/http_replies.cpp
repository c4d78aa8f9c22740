#include "service/http_replies.h"

#include <utility>

#include "protocol/operator_stream_address.h"
#include "service/charset.h"
#include "service/health_check.h"

namespace tertulia {

namespace {

const char* const kJsonType = "application/json; charset=utf-8";

}  // namespace

HttpReply TypedReply(int status, std::string body, const char* type) {
    HttpReply reply;
    reply.status = status;
    reply.body = std::move(body);
    reply.headers = {{"Content-Type", type}, {"X-Content-Type-Options", "nosniff"}};
    return reply;
}

HttpReply UncachedReply(int status, std::string body, const char* type) {
    HttpReply reply = TypedReply(status, std::move(body), type);
    reply.headers.emplace_back("Cache-Control", "no-store");
    return reply;
}

HttpReply JsonHttpReply(const JsonReply& json) {
    return UncachedReply(json.status, json.body, kJsonType);
}

HttpReply StreamReply(std::shared_ptr<ReplyStream> stream, const char* type) {
    HttpReply reply = UncachedReply(200, "", type);
    // Proxies that buffer replies (nginx) pass this one on as it comes.
    reply.headers.emplace_back("X-Accel-Buffering", "no");
    reply.stream = std::move(stream);
    return reply;
}

HttpReply FailureReply(const std::string& path, int status) {
    if (path.starts_with("/api/")) {
        return JsonHttpReply({status, R"({"error":"Petición no válida."})"});
    }
    return TypedReply(status, "Error " + std::to_string(status) + "\n", kPlainType);
}

HttpReply UnavailableReply(const std::string& path) {
    const std::string message = "La base de datos no responde; inténtelo de nuevo.";
    HttpReply reply;
    if (path == kServiceScriptPath) {
        reply = UncachedReply(503, Windows1252FromUtf8("ERROR: " + message), kOperatorType);
    } else if (path.starts_with("/api/")) {
        reply = JsonHttpReply({503, "{\"error\":\"" + message + "\"}"});
    } else if (path == kHealthPath) {
        reply = UncachedReply(503, "ERROR: La base de datos no responde.", kPlainType);
    } else {
        reply = TypedReply(503, "Error 503\n", kPlainType);
    }
    reply.headers.emplace_back("Retry-After", "5");
    return reply;
}

}  // namespace tertulia
