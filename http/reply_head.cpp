#include "http/reply_head.h"

#include <stdexcept>

#include "http/ascii_text.h"
#include "http/http_errors.h"

namespace tertulia {

const HeaderLine* ReplyHead::Find(std::string_view name) const {
    for (const auto& header : headers)
        if (EqualsIgnoringCase(header.name, name)) return &header;
    return nullptr;
}

std::string ReplyHead::Value(std::string_view name) const {
    const HeaderLine* header = Find(name);
    return header != nullptr ? header->value : std::string();
}

std::vector<std::string> ReplyHead::Values(std::string_view name) const {
    std::vector<std::string> values;
    for (const auto& header : headers)
        if (EqualsIgnoringCase(header.name, name)) values.push_back(header.value);
    return values;
}

std::optional<std::int32_t> ReplyHead::ContentLength() const {
    const HeaderLine* header = Find("Content-Length");
    if (header == nullptr) return std::nullopt;
    const auto length = ParseDecimalInt32(TrimBlanks(header->value));
    if (!length || *length < 0) throw std::runtime_error(kInvalidContentLength);
    return length;
}

bool ReplyHead::IsRedirect() const {
    return (statusCode >= 300 && statusCode <= 399 && statusCode != 304) ||
           !Value("Location").empty();
}

bool ReplyHead::IsSuccess() const {
    return statusCode >= 200 && statusCode <= 299 && !IsRedirect();
}

bool ReplyHead::AsksToClose() const {
    return EqualsIgnoringCase(TrimBlanks(Value("Connection")), "close") ||
           EqualsIgnoringCase(TrimBlanks(Value("Proxy-Connection")), "close");
}

std::int32_t StatusCodeOf(std::string_view statusLine) {
    const std::size_t first = statusLine.find(' ');
    if (first == std::string_view::npos) return -1;
    std::string_view word = statusLine.substr(first + 1);
    word = word.substr(0, word.find(' '));
    return ParseDecimalInt32(word).value_or(-1);
}

ReplyHead ReadReplyHead(InputBuffer& reader) {
    ReplyHead head;
    auto statusLine = reader.ReadLine();
    if (!statusLine) throw std::runtime_error(kConnectionClosedGracefully);
    head.statusLine = std::move(*statusLine);
    head.statusCode = StatusCodeOf(head.statusLine);

    for (std::size_t lines = 0;; ++lines) {
        auto line = reader.ReadLine();
        if (!line || line->empty()) break;
        if (lines == kMaxHeaderLines) throw std::runtime_error(kTooManyHeaderLines);
        const bool continues = line->front() == ' ' || line->front() == '\t';
        if (continues && !head.headers.empty()) {
            auto& value = head.headers.back().value;
            value += ' ';
            value += TrimBlanks(*line);
            continue;
        }
        const std::size_t colon = line->find(':');
        HeaderLine header;
        if (colon != std::string::npos) {
            header.name = line->substr(0, colon);
            header.value = TrimBlanks(std::string_view(*line).substr(colon + 1));
        } else {
            header.value = TrimBlanks(*line);
        }
        head.headers.push_back(std::move(header));
    }
    return head;
}

}  // namespace tertulia
