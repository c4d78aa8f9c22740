#include "http/body_sink.h"

#include <algorithm>
#include <stdexcept>

#include "http/http_errors.h"

namespace tertulia {

namespace {

constexpr std::size_t kMaxUpFrontReserve = 1 << 20;

}  // namespace

void TextSink::Reserve(std::int64_t length) {
    const auto total = text_.size() + static_cast<std::uint64_t>(length);
    if (length < 0 || total > maxSize_) throw std::runtime_error(kReplyTooLarge);
    text_.reserve(std::min<std::size_t>(total, kMaxUpFrontReserve));
}

void TextSink::Append(std::string_view bytes) {
    if (bytes.size() > maxSize_ - text_.size()) throw std::runtime_error(kReplyTooLarge);
    text_.append(bytes);
}

void StreamSink::Reserve(std::int64_t length) {
    const std::int64_t end = stream_.Position() + length;
    if (stream_.Size() < end) stream_.SetSize(end);
}

void StreamSink::Trim() {
    const std::int64_t position = stream_.Position();
    if (stream_.Size() != position) stream_.SetSize(position);
}

}  // namespace tertulia
