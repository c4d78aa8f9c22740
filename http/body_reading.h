#pragma once

#include <cstdint>
#include <string_view>

#include "http/body_sink.h"
#include "http/input_buffer.h"
#include "http/reply_head.h"
#include "http/work_progress.h"

namespace tertulia {

// Progress bookkeeping and the handlers to tell, for one request.
struct ProgressReport {
    WorkProgress& progress;
    const WorkHandlers& handlers;
};

// Reads the body that `head` announces into `sink`: a positive Content-Length, a chunked
// body, or (without a Content-Length header) everything until the peer closes. Each piece
// is read within its own transfer bracket, which is closed before a failure leaves. A body
// that ends before its announced length, and a chunk-size line or a Content-Length that is
// not a valid size, fail: a cut-off or misread body is never passed on as complete.
void ReadBody(InputBuffer& reader, const ReplyHead& head, BodySink& sink,
              const ProgressReport& report);

// The size of a chunk-size line: its hexadecimal digits, which end at ";" (an extension,
// ignored) or at a blank. A line that is not a size fails rather than end the body early.
std::int32_t ChunkSize(std::string_view line);

}  // namespace tertulia
