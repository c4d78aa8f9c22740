#include "protocol/stream_events.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/table_rows.h"

namespace tertulia {
namespace {

// An event as a stream reader gives it: the text's "name: value" lines, up to its blank line.
struct Fields {
    std::string type;
    std::string data;
    EventFields others;
};

Fields FieldsOf(std::string_view text) {
    EXPECT_TRUE(text.ends_with("\n\n")) << text;
    Fields event;
    for (std::size_t end = text.find('\n'); end != 0 && end != std::string_view::npos;
         end = text.find('\n')) {
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        const std::size_t colon = line.find(": ");
        const std::string name(line.substr(0, colon));
        const std::string value(line.substr(colon + 2));
        if (name == "event") {
            event.type = value;
        } else if (name == "data") {
            event.data = value;
        } else {
            event.others.emplace_back(name, value);
        }
    }
    return event;
}

// The console of the release before reads a news event's id and count from its data alone, in
// signed 32-bit decimal, and knows no other field: kept as it was.
std::optional<std::int32_t> OlderDecimal(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > std::int64_t{0x7FFFFFFF} + (negative ? 1 : 0)) return std::nullopt;
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

std::optional<NewsEvent> ReadByOlderConsole(const Fields& event) {
    if (event.type != "noticias") return std::nullopt;
    const std::string_view data(event.data);
    const std::size_t colon = data.find(':');
    const std::optional<std::int32_t> id = OlderDecimal(data.substr(0, colon));
    if (!id) return std::nullopt;
    NewsEvent news{*id, std::nullopt, false};
    if (colon != std::string_view::npos) {
        if (const auto count = OlderDecimal(data.substr(colon + 1))) news.visitorLines = *count;
    }
    return news;
}

struct NewsRow {
    const char* name;
    NewsEvent event;
};

TEST(StreamEventsTest, each_news_event_reads_back_to_what_was_written) {
    const std::vector<NewsRow> rows = {
        {"a_line", {5, 3, false}},
        {"opened_without_lines", {2147483647, 0, false}},
        {"without_a_count", {9, std::nullopt, false}},
        {"closed", {7, 12, true}},
        {"closed_without_a_count", {8, std::nullopt, true}},
    };
    testing::ForEachRow(rows, [](const NewsRow& row) {
        const Fields event = FieldsOf(WriteNewsEvent(row.event));
        EXPECT_EQ(ReadNewsEvent(event.type, event.data, event.others), row.event);
        NewsEvent older = row.event;
        older.closed = false;
        EXPECT_EQ(ReadByOlderConsole(event), older);
    });
}

// A visitor typing reads back as its conversation, never as news, even to an older console.
TEST(StreamEventsTest, typing_events_read_back_and_are_no_news) {
    const std::vector<NewsRow> rows = {
        {"small", {5, std::nullopt, false}},
        {"largest_id", {2147483647, std::nullopt, false}},
    };
    testing::ForEachRow(rows, [](const NewsRow& row) {
        const Fields event = FieldsOf(WriteTypingEvent(row.event.idSesionClt));
        EXPECT_EQ(ReadTypingEvent(event.type, event.data), row.event.idSesionClt);
        EXPECT_EQ(ReadNewsEvent(event.type, event.data, event.others), std::nullopt);
        EXPECT_EQ(ReadByOlderConsole(event), std::nullopt);
    });
    EXPECT_EQ(ReadTypingEvent("noticias", "5"), std::nullopt);
    EXPECT_EQ(ReadTypingEvent("escribiendo", "x"), std::nullopt);
}

// A change of the ready answers reaches a reader as an event of its own, never as news.
TEST(StreamEventsTest, ready_answers_event_reads_back_and_is_no_news) {
    const std::string text = WriteReadyAnswersEvent();
    EXPECT_EQ(text, "event: respuestas\ndata: \n\n");
    const Fields event = FieldsOf(text);
    EXPECT_TRUE(IsReadyAnswersEvent(event.type));
    EXPECT_EQ(ReadNewsEvent(event.type, event.data, event.others), std::nullopt);
    EXPECT_EQ(ReadTypingEvent(event.type, event.data), std::nullopt);
    EXPECT_EQ(ReadByOlderConsole(event), std::nullopt);
    EXPECT_FALSE(IsReadyAnswersEvent("noticias"));
}

TEST(StreamEventsTest, other_events_and_ids_that_are_not_numbers_are_no_news) {
    EXPECT_EQ(ReadNewsEvent("message", "5:3", {}), std::nullopt);
    EXPECT_EQ(ReadNewsEvent("noticias", "x:3", {}), std::nullopt);
    EXPECT_EQ(ReadNewsEvent("noticias", "5:-3", {{"estado", "abierta"}}),
              (NewsEvent{5, std::nullopt, false}));
}

// The visitor page reads these, byte for byte as they always were.
TEST(StreamEventsTest, visitor_events_keep_their_form) {
    EXPECT_EQ(WriteVisitorLineEvent(3, R"({"autor":"visitante","texto":"hola"})"),
              "id: 3\nevent: mensaje\ndata: {\"autor\":\"visitante\",\"texto\":\"hola\"}\n\n");
    EXPECT_EQ(WriteVisitorClosedEvent(), "event: cerrada\ndata: {}\n\n");
    EXPECT_EQ(WriteVisitorTypingEvent(), "event: escribiendo\ndata: {}\n\n");
}

}  // namespace
}  // namespace tertulia
