#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tertulia {

// The events of the service's two event streams (Server-Sent Events): the operator's, which the
// console reads, and a visitor's, which the visitor page reads.

// The operator stream's news of one conversation: it opened, got a line or closed.
struct NewsEvent {
    std::int32_t idSesionClt = 0;
    std::optional<std::int64_t> visitorLines;  // the lines its visitor has written by now
    // Closed on the service, by anyone; a conversation that another console took is not told
    // of at all.
    bool closed = false;
    bool operator==(const NewsEvent&) const = default;
};

// "noticias" with the data "ID:COUNT" (or "ID" without a count). A closed conversation's event
// carries the field "estado: cerrada" besides: an event stream reader skips the fields it does
// not know, so an older console reads the event as it always did.
std::string WriteNewsEvent(const NewsEvent& event);

// An event's fields other than "event", "data", "id" and "retry", name and value, in order.
using EventFields = std::vector<std::pair<std::string, std::string>>;

// The news that an operator stream's event carries; nothing when the event is not news or its
// id is not a conversation id. A count that is not one is left out.
std::optional<NewsEvent> ReadNewsEvent(std::string_view type, std::string_view data,
                                       const EventFields& fields);

// "escribiendo" with the conversation's id as its data: the conversation's visitor is typing.
// A console that knows no such event skips it.
std::string WriteTypingEvent(std::int32_t idSesionClt);
// The conversation whose visitor an operator stream's event says is typing; nothing when the
// event is not that or its id is not a conversation id.
std::optional<std::int32_t> ReadTypingEvent(std::string_view type, std::string_view data);

// "respuestas" with empty data: the company's ready answers have changed. A console that knows
// no such event skips it.
std::string WriteReadyAnswersEvent();
bool IsReadyAnswersEvent(std::string_view type);

// A visitor stream's line: `number` counts the conversation's lines from 1, and `json` is the
// line as the page reads it.
std::string WriteVisitorLineEvent(std::size_t number, std::string_view json);
// A visitor stream's end: the conversation has closed.
std::string WriteVisitorClosedEvent();
// A visitor stream's "escribiendo" with the data {}: the operator is typing.
std::string WriteVisitorTypingEvent();

}  // namespace tertulia
