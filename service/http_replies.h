#pragma once

#include <memory>
#include <string>

#include "service/http_server.h"
#include "service/visitor_api.h"

namespace tertulia {

// The forms of the service's replies, shared by its routes.

inline constexpr const char* kOperatorType = "text/plain; charset=windows-1252";
inline constexpr const char* kPlainType = "text/plain; charset=utf-8";

// A reply of `type` that browsers take as that type only.
HttpReply TypedReply(int status, std::string body, const char* type);
// As TypedReply, and never kept by a cache.
HttpReply UncachedReply(int status, std::string body, const char* type);
HttpReply JsonHttpReply(const JsonReply& json);
// An event stream, in `type`.
HttpReply StreamReply(std::shared_ptr<ReplyStream> stream, const char* type);
// A refusal with `status`, in the form the clients of `path` read.
HttpReply FailureReply(const std::string& path, int status);
// The database did not answer in time; the client of `path` may try again shortly.
HttpReply UnavailableReply(const std::string& path);

}  // namespace tertulia
