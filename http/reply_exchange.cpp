#include "http/reply_exchange.h"

#include "http/http_errors.h"

namespace tertulia {

void ReadReply(InputBuffer& reader, const ReplyContext& context, BodySink& target,
               ReplyHead& head) {
    for (int interim = 0;; ++interim) {
        head = ReadReplyHead(reader);
        context.cookies.Store(head.Values("Set-cookie"), context.host);
        context.cookies.Store(head.Values("Set-cookie2"), context.host);
        // Past the cap an endless run of "100" heads is judged like any other failed status.
        if (head.statusCode != 100 || interim == kMaxInterimHeads) break;
    }
    context.pace.StartBody(reader.Buffered());
    if (head.IsSuccess()) {
        if (head.statusCode != 204) ReadBody(reader, head, target, context.report);
        // Also without a body: the target ends where the body would have begun.
        target.Trim();
        return;
    }
    TextSink failureBody(context.maxTextSize);
    ReadBody(reader, head, failureBody, context.report);
    throw HttpProtocolError(head.statusLine, head.statusCode, std::move(failureBody.Text()));
}

}  // namespace tertulia
