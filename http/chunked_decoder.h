#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tertulia {

// Takes a chunked body apart as its bytes arrive, in pieces of any size, without waiting for
// more: the chunks' data is passed on, sizes, extensions and trailer lines are dropped.
class ChunkedDecoder {
  public:
    // Appends the chunk data within `bytes` to `data`; false once the body has ended (the bytes
    // after its end are ignored). A chunk-size line that is not a size throws.
    bool Feed(std::string_view bytes, std::string& data);

  private:
    enum class State { Size, Data, DataEnd, Trailer, Done };
    // Gathers a line; true when it is whole (in line_, without its CR).
    bool GatherLine(std::string_view& bytes);

    State state_ = State::Size;
    std::string line_;
    std::int32_t left_ = 0;  // data bytes of the current chunk still to come
};

}  // namespace tertulia
