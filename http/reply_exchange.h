#pragma once

#include <cstddef>
#include <string>

#include "http/body_reading.h"
#include "http/body_sink.h"
#include "http/cookie_jar.h"
#include "http/input_buffer.h"
#include "http/reply_head.h"
#include "http/reply_pace.h"

namespace tertulia {

// What reading one reply needs besides the bytes.
struct ReplyContext {
    CookieJar& cookies;
    std::string host;  // the request's host, the server host for cookies
    std::size_t maxTextSize;
    ProgressReport report;
    ReplyPace& pace;  // told where the head ends and the body begins
};

// Reads one reply: its heads (interim "100" heads skipped), its cookies into the jar, and its
// body into `target` when the status is a success. Any other status, or a redirect, has its
// body read into the failure, which is thrown as HttpProtocolError. `head` holds the last
// head read, also when this throws.
void ReadReply(InputBuffer& reader, const ReplyContext& context, BodySink& target, ReplyHead& head);

inline constexpr int kMaxInterimHeads = 100;

}  // namespace tertulia
