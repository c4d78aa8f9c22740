#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tertulia {

// One Server-Sent Event: its type ("message" when the event names none), its data lines joined
// with LF, the last event id the stream has given so far, and the fields that the standard does
// not name (which a reader that does not know them skips), name and value, in order.
struct ServerEvent {
    std::string type;
    std::string data;
    std::string id;
    std::vector<std::pair<std::string, std::string>> fields{};
    bool operator==(const ServerEvent&) const = default;
};

// Takes a Server-Sent Events body apart as its bytes arrive, in pieces of any size: lines end in
// CR LF, LF or CR; a line that starts with ":" is a comment; a blank line ends an event, which is
// given only when it has data.
class EventStreamParser {
  public:
    static constexpr std::size_t kMaxLineLength = 65536;

    // Appends every event that `bytes` complete to `events`. A line longer than kMaxLineLength
    // throws.
    void Feed(std::string_view bytes, std::vector<ServerEvent>& events);

  private:
    void TakeLine(std::vector<ServerEvent>& events);

    std::string line_;
    bool afterCr_ = false;  // a LF right after a CR ends no second line
    std::string type_;
    std::string data_;
    bool hasData_ = false;
    std::vector<std::pair<std::string, std::string>> fields_;
    std::string lastId_;
};

}  // namespace tertulia
