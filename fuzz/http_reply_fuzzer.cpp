// Feeds arbitrary bytes as a server's replies through the client's reply reading: the bytes
// arrive in two pieces, split at every point in turn, and replies are read one after another
// from the same input buffer, as on a kept connection.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "http/body_sink.h"
#include "http/cookie_jar.h"
#include "http/reply_exchange.h"
#include "http/reply_reader.h"
#include "http/stream.h"

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

void ReadReplies(std::string_view bytes, std::size_t split) {
    SplitSource source(bytes, split);
    ReplyReader reader(source);
    CookieJar jar([] { return std::int64_t{1700000000}; });
    WorkProgress progress;
    int level = 0;
    const WorkHandlers handlers{[&](TWorkMode, std::int32_t max) {
                                    if (level++ != 0 || max < 0) std::abort();
                                },
                                [&](TWorkMode, std::int32_t count) {
                                    if (level != 1 || count < 0) std::abort();
                                },
                                [&](TWorkMode) {
                                    if (--level != 0) std::abort();
                                }};
    const ReplyContext context{jar, "w.example.test", 1 << 16, {progress, handlers}};
    // A kept connection reads reply after reply until the peer has closed.
    for (int reply = 0; reply < 8 && !reader.PeerClosed(); ++reply) {
        try {
            ReplyHead head;
            if (split % 2 == 0) {
                TextSink text(context.maxTextSize);
                ReadReply(reader, context, text, head);
            } else {
                SizeOnlyStream stream;
                StreamSink sink(stream);
                ReadReply(reader, context, sink, head);
                if (stream.Size() != stream.Position()) std::abort();
            }
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
