#pragma once

#include <cstdint>

#include "http/body_sink.h"
#include "http/reply_head.h"
#include "http/reply_reader.h"
#include "http/work_progress.h"

namespace tertulia {

// Progress bookkeeping and the handlers to tell, for one request.
struct ProgressReport {
    WorkProgress& progress;
    const WorkHandlers& handlers;
};

// Reads the body that `head` announces into `sink`: a positive Content-Length, a chunked
// body, or (without a usable Content-Length) everything until the peer closes. Each piece
// is read within its own transfer bracket, which is closed before a failure leaves.
void ReadBody(ReplyReader& reader, const ReplyHead& head, BodySink& sink,
              const ProgressReport& report);

}  // namespace tertulia
