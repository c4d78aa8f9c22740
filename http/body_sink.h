#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/stream.h"

namespace tertulia {

// Where a reply body goes.
class BodySink {
  public:
    virtual ~BodySink() = default;
    // A body of known length follows: the target is made ready for all of it at once.
    virtual void Reserve(std::int64_t length) = 0;
    virtual void Append(std::string_view bytes) = 0;
    // Cuts the target back to the end of what was written.
    virtual void Trim() = 0;
};

// A body kept as text, refused beyond a size cap so that a hostile reply cannot exhaust
// memory; an announced length is never allocated beyond a modest amount up front.
class TextSink : public BodySink {
  public:
    explicit TextSink(std::size_t maxSize) : maxSize_(maxSize) {}

    void Reserve(std::int64_t length) override;
    void Append(std::string_view bytes) override;
    void Trim() override {}

    std::string& Text() { return text_; }

  private:
    std::size_t maxSize_;
    std::string text_;
};

// A body written into the caller's stream from its position at the start.
class StreamSink : public BodySink {
  public:
    explicit StreamSink(Stream& stream) : stream_(stream) {}

    void Reserve(std::int64_t length) override;
    void Append(std::string_view bytes) override { stream_.Write(bytes.data(), bytes.size()); }
    void Trim() override;

  private:
    Stream& stream_;
};

}  // namespace tertulia
