#include "http/chunked_decoder.h"

#include <algorithm>
#include <stdexcept>

#include "http/body_reading.h"
#include "http/http_errors.h"
#include "http/input_buffer.h"

namespace tertulia {

bool ChunkedDecoder::GatherLine(std::string_view& bytes) {
    const std::size_t lf = bytes.find('\n');
    line_ += bytes.substr(0, lf);
    if (line_.size() > InputBuffer::kMaxLineLength)
        throw std::runtime_error(kMaxLineLengthExceeded);
    if (lf == std::string_view::npos) {
        bytes = {};
        return false;
    }
    bytes.remove_prefix(lf + 1);
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    return true;
}

bool ChunkedDecoder::Feed(std::string_view bytes, std::string& data) {
    while (!bytes.empty() && state_ != State::Done) {
        if (state_ == State::Data) {
            const std::size_t piece = std::min<std::size_t>(bytes.size(), left_);
            data += bytes.substr(0, piece);
            bytes.remove_prefix(piece);
            left_ -= static_cast<std::int32_t>(piece);
            if (left_ == 0) state_ = State::DataEnd;
            continue;
        }
        if (!GatherLine(bytes)) break;
        const std::string line = std::move(line_);
        line_.clear();
        switch (state_) {
            case State::Size:
                left_ = ChunkSize(line);
                state_ = left_ == 0 ? State::Trailer : State::Data;
                break;
            case State::DataEnd:
                state_ = State::Size;
                break;
            case State::Trailer:
                if (line.empty()) state_ = State::Done;
                break;
            case State::Data:
            case State::Done:
                break;
        }
    }
    return state_ != State::Done;
}

}  // namespace tertulia
