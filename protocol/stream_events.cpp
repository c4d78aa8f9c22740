#include "protocol/stream_events.h"

#include "protocol/service_protocol.h"

namespace tertulia {

namespace {

constexpr std::string_view kNewsType = "noticias";
constexpr std::string_view kStateField = "estado";
constexpr std::string_view kClosedState = "cerrada";
constexpr const char* kTypingType = "escribiendo";
constexpr std::string_view kReadyAnswersType = "respuestas";

}  // namespace

std::string WriteNewsEvent(const NewsEvent& event) {
    std::string text = "event: ";
    text += kNewsType;
    text += "\ndata: " + std::to_string(event.idSesionClt);
    if (event.visitorLines) text += ":" + std::to_string(*event.visitorLines);
    text += '\n';
    if (event.closed) {
        text += kStateField;
        text += ": ";
        text += kClosedState;
        text += '\n';
    }
    text += '\n';
    return text;
}

std::optional<NewsEvent> ReadNewsEvent(std::string_view type, std::string_view data,
                                       const EventFields& fields) {
    if (type != kNewsType) return std::nullopt;
    const std::size_t colon = data.find(':');
    const std::optional<std::int32_t> id = ReadConversationId(data.substr(0, colon));
    if (!id) return std::nullopt;
    NewsEvent event{*id, std::nullopt, false};
    if (colon != std::string_view::npos) event.visitorLines = ReadLineCount(data.substr(colon + 1));
    for (const auto& [name, value] : fields) {
        if (name == kStateField) event.closed = value == kClosedState;
    }
    return event;
}

std::string WriteTypingEvent(std::int32_t idSesionClt) {
    return std::string("event: ") + kTypingType + "\ndata: " + std::to_string(idSesionClt) + "\n\n";
}

std::optional<std::int32_t> ReadTypingEvent(std::string_view type, std::string_view data) {
    if (type != kTypingType) return std::nullopt;
    return ReadConversationId(data);
}

std::string WriteReadyAnswersEvent() {
    return "event: " + std::string(kReadyAnswersType) + "\ndata: \n\n";
}

bool IsReadyAnswersEvent(std::string_view type) {
    return type == kReadyAnswersType;
}

std::string WriteVisitorLineEvent(std::size_t number, std::string_view json) {
    std::string text = "id: " + std::to_string(number) + "\nevent: mensaje\ndata: ";
    text += json;
    text += "\n\n";
    return text;
}

std::string WriteVisitorTypingEvent() {
    return std::string("event: ") + kTypingType + "\ndata: {}\n\n";
}

std::string WriteVisitorClosedEvent() {
    return "event: cerrada\ndata: {}\n\n";
}

}  // namespace tertulia
