#include "http/event_stream_parser.h"

#include <stdexcept>

namespace tertulia {

void EventStreamParser::Feed(std::string_view bytes, std::vector<ServerEvent>& events) {
    for (const char c : bytes) {
        if (c == '\n' && afterCr_) {
            afterCr_ = false;
            continue;
        }
        afterCr_ = c == '\r';
        if (c == '\r' || c == '\n') {
            TakeLine(events);
            continue;
        }
        if (line_.size() == kMaxLineLength)
            throw std::runtime_error("The event stream has a line that is too long.");
        line_ += c;
    }
}

void EventStreamParser::TakeLine(std::vector<ServerEvent>& events) {
    std::string line;
    line.swap(line_);
    if (line.empty()) {
        if (hasData_) {
            events.push_back(
                {type_.empty() ? "message" : type_, data_, lastId_, std::move(fields_)});
        }
        type_.clear();
        data_.clear();
        hasData_ = false;
        fields_.clear();
        return;
    }
    if (line[0] == ':') return;
    const std::size_t colon = line.find(':');
    const std::string field = line.substr(0, colon);
    std::string_view value;
    if (colon != std::string::npos) {
        value = std::string_view(line).substr(colon + 1);
        if (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    }
    if (field == "event") {
        type_ = value;
    } else if (field == "data") {
        if (hasData_) data_ += '\n';
        data_ += value;
        hasData_ = true;
    } else if (field == "id") {
        if (value.find('\0') == std::string_view::npos) lastId_ = value;
    } else if (field != "retry") {
        fields_.emplace_back(field, value);
    }
}

}  // namespace tertulia
