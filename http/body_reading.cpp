#include "http/body_reading.h"

#include <algorithm>
#include <stdexcept>

#include "http/ascii_text.h"
#include "http/http_errors.h"

namespace tertulia {

namespace {

constexpr TWorkMode kMode = TWorkMode::wmRead;

void TakeInto(InputBuffer& reader, std::size_t count, BodySink& sink,
              const ProgressReport& report) {
    sink.Append(reader.Take(count));
    report.progress.Work(kMode, static_cast<std::int64_t>(count), report.handlers);
}

// Runs `read` inside a transfer bracket announcing `announced` bytes.
template <typename Read>
void InBracket(std::int64_t announced, const ProgressReport& report, Read read) {
    report.progress.Begin(kMode, announced, report.handlers);
    try {
        read();
    } catch (...) {
        report.progress.End(kMode, report.handlers);
        throw;
    }
    report.progress.End(kMode, report.handlers);
}

// Takes up to `count` bytes: what is buffered first, then whole blocks once they are
// buffered. Returns how many were taken; fewer when the peer closed.
std::int64_t ReadCounted(InputBuffer& reader, std::int64_t count, BodySink& sink,
                         const ProgressReport& report) {
    std::int64_t remaining = count;
    const auto first = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(reader.Buffered()), remaining));
    if (first > 0) {
        TakeInto(reader, first, sink, report);
        remaining -= static_cast<std::int64_t>(first);
    }
    while (remaining > 0) {
        const auto block =
            static_cast<std::size_t>(std::min<std::int64_t>(InputBuffer::kReceiveBlock, remaining));
        reader.Fill(block);
        const std::size_t piece = std::min(block, reader.Buffered());
        if (piece > 0) {
            TakeInto(reader, piece, sink, report);
            remaining -= static_cast<std::int64_t>(piece);
        }
        if (piece < block) break;
    }
    return count - remaining;
}

void ReadUntilClose(InputBuffer& reader, BodySink& sink, const ProgressReport& report) {
    if (reader.Buffered() > 0) TakeInto(reader, reader.Buffered(), sink, report);
    for (;;) {
        reader.Fill(InputBuffer::kReceiveBlock);
        const std::size_t piece = std::min(InputBuffer::kReceiveBlock, reader.Buffered());
        if (piece > 0) TakeInto(reader, piece, sink, report);
        if (piece < InputBuffer::kReceiveBlock) return;
    }
}

std::string ChunkLine(InputBuffer& reader) {
    auto line = reader.ReadLine();
    if (!line) throw std::runtime_error(kConnectionClosedGracefully);
    return std::move(*line);
}

void ReadChunked(InputBuffer& reader, BodySink& sink, const ProgressReport& report) {
    for (;;) {
        const std::int32_t size = ChunkSize(ChunkLine(reader));
        if (size == 0) break;
        InBracket(size, report, [&] {
            if (ReadCounted(reader, size, sink, report) < size)
                throw std::runtime_error(kConnectionClosedGracefully);
        });
        ChunkLine(reader);
    }
    // Trailer lines up to the empty line, so that a kept connection's next reply starts at
    // its status line.
    for (std::size_t lines = 0; !ChunkLine(reader).empty(); ++lines)
        if (lines == kMaxHeaderLines) throw std::runtime_error(kTooManyHeaderLines);
}

}  // namespace

std::int32_t ChunkSize(std::string_view line) {
    const std::string_view digits = line.substr(0, line.find_first_of("; \t"));
    if (digits.empty() || digits.find_first_not_of("0123456789abcdefABCDEF") != digits.npos)
        throw std::runtime_error(kInvalidChunkSize);
    const auto size = ParseHexInt32(digits);
    if (!size) throw std::runtime_error(kChunkSizeTooLarge);
    return *size;
}

void ReadBody(InputBuffer& reader, const ReplyHead& head, BodySink& sink,
              const ProgressReport& report) {
    const std::optional<std::int32_t> contentLength = head.ContentLength();
    if (contentLength > 0) {
        InBracket(*contentLength, report, [&] {
            sink.Reserve(*contentLength);
            std::int64_t taken = 0;
            try {
                taken = ReadCounted(reader, *contentLength, sink, report);
            } catch (...) {
                sink.Trim();
                throw;
            }
            sink.Trim();
            if (taken < *contentLength) throw std::runtime_error(kConnectionClosedGracefully);
        });
    } else if (head.Value("Transfer-Encoding").find("chunked") != std::string::npos) {
        ReadChunked(reader, sink, report);
        sink.Trim();
    } else if (!contentLength) {
        InBracket(0, report, [&] { ReadUntilClose(reader, sink, report); });
        sink.Trim();
    }
}

}  // namespace tertulia
