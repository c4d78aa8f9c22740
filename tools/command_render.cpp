#include <memory>
#include <string_view>

#include "protocol/transcript_rendering.h"
#include "tools/commands.h"
#include "tools/tool_io.h"

namespace tertulia::tool {

namespace {

// Blocks that stay in the processor's cache from the read to the write, of the size that the
// renderer works in.
constexpr std::size_t kBlock = StreamingTranscriptRenderer::kPiece;
constexpr std::string_view kErrorWord = "ERROR";

// Reads the reply's first bytes into `block`, until they are enough to decide whether it is
// an error reply: five of them, fewer that already differ from "ERROR", or the whole reply.
std::size_t ReadFirstBytes(StandardInputStream& input, char* block) {
    std::size_t used = 0;
    while (used < kErrorWord.size() && kErrorWord.starts_with(std::string_view(block, used))) {
        const std::size_t n = input.Read(block + used, kBlock - used);
        if (n == 0) break;
        used += n;
    }
    return used;
}

// The error reply goes to standard error unchanged, as it arrives; the status is 3 even when
// standard error cannot take it.
int PassErrorReply(StandardInputStream& input, char* block, std::size_t used) {
    while (used > 0 && WriteError(std::string_view(block, used))) used = input.Read(block, kBlock);
    return 3;
}

}  // namespace

// render: an error reply goes to standard error with status 3, any other reply is rendered.
// The reply streams through in blocks, so memory stays small however long it is; the
// rendered text is written as it is made.
int RunRender(int argc, char**) {
    if (argc != 1) return UsageError();
    StandardInputStream input;
    // Not cleared: only the bytes that a read returns are used.
    const auto block = std::make_unique_for_overwrite<char[]>(kBlock);
    std::size_t used = ReadFirstBytes(input, block.get());
    if (IsErrorReply(std::string_view(block.get(), used)))
        return PassErrorReply(input, block.get(), used);

    StreamingTranscriptRenderer renderer;
    while (used > 0) {
        if (!WriteOut(renderer.Add(std::string_view(block.get(), used)))) return kExitFailure;
        used = input.Read(block.get(), kBlock);
    }
    return WriteOut(renderer.Finish()) ? 0 : kExitFailure;
}

}  // namespace tertulia::tool
