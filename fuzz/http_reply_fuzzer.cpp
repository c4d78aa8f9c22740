// Feeds arbitrary bytes as a server's replies through the client's reply reading: the bytes
// arrive in two pieces, split at every point in turn, and replies are read one after another
// from the same input buffer, as on a kept connection. A reply that is read without failure
// must hold exactly the body it announced.

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "http/body_sink.h"
#include "http/cookie_jar.h"
#include "http/http_errors.h"
#include "http/input_buffer.h"
#include "http/reply_exchange.h"
#include "base/stream.h"

namespace tertulia {
namespace {

// Hands out the input in two pieces, then reports a closed connection.
class SplitSource : public ByteSource {
  public:
    SplitSource(std::string_view bytes, std::size_t split) : bytes_(bytes), split_(split) {}

    std::size_t Receive(char* buffer, std::size_t capacity) override {
        const std::size_t end = position_ < split_ ? split_ : bytes_.size();
        const std::size_t count = std::min(capacity, end - position_);
        std::memcpy(buffer, bytes_.data() + position_, count);
        position_ += count;
        if (count == 0 && position_ < bytes_.size()) return Receive(buffer, capacity);
        return count;
    }

  private:
    std::string_view bytes_;
    std::size_t split_;
    std::size_t position_ = 0;
};

// A caller's stream that keeps only its size and position, so that a huge announced length
// costs no memory here.
class SizeOnlyStream : public Stream {
  public:
    std::size_t Read(void*, std::size_t) override { return 0; }
    void Write(const void*, std::size_t count) override {
        position_ += static_cast<std::int64_t>(count);
        size_ = std::max(size_, position_);
    }
    std::int64_t Position() const override { return position_; }
    void Seek(std::int64_t position) override { position_ = position; }
    std::int64_t Size() const override { return size_; }
    void SetSize(std::int64_t size) override {
        size_ = size;
        position_ = std::min(position_, size);
    }

  private:
    std::int64_t position_ = 0;
    std::int64_t size_ = 0;
};

// One transfer bracket as the progress events told it.
struct Bracket {
    std::int64_t announced = 0;
    std::int64_t taken = 0;
};

// The body length a head announces by its Content-Length, read here on its own terms: decimal
// digits between blanks, after an optional "+"; -1 without the header. A body was read, so
// the client accepted the value: one that is not a number here is a finding.
std::int64_t AnnouncedLength(const ReplyHead& head) {
    const HeaderLine* header = head.Find("Content-Length");
    if (header == nullptr) return -1;
    std::string_view text = header->value;
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    std::int64_t length = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), length);
    if (error != std::errc() || end != text.data() + text.size()) std::abort();
    return length;
}

// A reply read without failure (or failed only by its status, after its body) holds exactly
// what it announced: its Content-Length, or for a chunked body every chunk whole.
void CheckComplete(const ReplyHead& head, std::int64_t bodySize,
                   const std::vector<Bracket>& brackets) {
    std::int64_t taken = 0;
    for (const Bracket& bracket : brackets) {
        if (bracket.announced > 0 && bracket.taken != bracket.announced) std::abort();
        taken += bracket.taken;
    }
    if (taken != bodySize) std::abort();
    if (head.IsSuccess() && head.statusCode == 204) return;  // no body is read
    const std::int64_t announced = AnnouncedLength(head);
    if (announced > 0 && bodySize != announced) std::abort();
}

void ReadReplies(std::string_view bytes, std::size_t split) {
    SplitSource source(bytes, split);
    InputBuffer reader(source);
    CookieJar jar([] { return std::int64_t{1700000000}; });
    WorkProgress progress;
    int level = 0;
    std::vector<Bracket> brackets;
    const WorkHandlers handlers{[&](TWorkMode, std::int32_t max) {
                                    if (level++ != 0 || max < 0) std::abort();
                                    brackets.push_back({max, 0});
                                },
                                [&](TWorkMode, std::int32_t count) {
                                    if (level != 1 || count < 0) std::abort();
                                    brackets.back().taken = count;
                                },
                                [&](TWorkMode) {
                                    if (--level != 0) std::abort();
                                }};
    ReplyPace pace;
    const ReplyContext context{jar, "w.example.test", 1 << 16, {progress, handlers}, pace};
    // A kept connection reads reply after reply until the peer has closed.
    for (int reply = 0; reply < 8 && !reader.PeerClosed(); ++reply) {
        brackets.clear();
        ReplyHead head;
        try {
            if (split % 2 == 0) {
                TextSink text(context.maxTextSize);
                ReadReply(reader, context, text, head);
                CheckComplete(head, static_cast<std::int64_t>(text.Text().size()), brackets);
            } else {
                SizeOnlyStream stream;
                StreamSink sink(stream);
                ReadReply(reader, context, sink, head);
                if (stream.Size() != stream.Position()) std::abort();
                CheckComplete(head, stream.Size(), brackets);
            }
        } catch (const HttpProtocolError& failure) {
            CheckComplete(head, static_cast<std::int64_t>(failure.Body().size()), brackets);
            if (level != 0) std::abort();
            continue;
        } catch (const std::runtime_error&) {
            break;
        }
        if (level != 0 || progress.Level(TWorkMode::wmRead) != 0) std::abort();
    }
    if (level != 0) std::abort();
    jar.CookieHeader("w.example.test", "/a/b?c");
}

}  // namespace
}  // namespace tertulia

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (std::size_t split = 0; split <= size; ++split) tertulia::ReadReplies(bytes, split);
    return 0;
}
