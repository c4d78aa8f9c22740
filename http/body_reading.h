#pragma once

#include <cstdint>

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

}  // namespace tertulia
