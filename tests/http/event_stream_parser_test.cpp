#include "http/event_stream_parser.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "http/chunked_decoder.h"
#include "tests/support/table_rows.h"

namespace tertulia {
namespace {

using Events = std::vector<ServerEvent>;

// The events of a body that arrives in these pieces.
Events Parse(const std::vector<std::string>& pieces) {
    EventStreamParser parser;
    Events events;
    for (const std::string& piece : pieces) parser.Feed(piece, events);
    return events;
}

TEST(EventStreamParserTest, takes_events_apart_however_their_bytes_arrive) {
    struct Row {
        const char* name;
        std::vector<std::string> pieces;
        Events events;
    };
    const Row rows[] = {
        {"one event", {"event: noticias\ndata: 5:3\n\n"}, {{"noticias", "5:3", ""}}},
        {"fields split over reads",
         {"ev", "ent: noti", "cias\nda", "ta: 5:", "3\n", "\n"},
         {{"noticias", "5:3", ""}}},
        {"CR LF, and a CR LF split between reads",
         {"event: noticias\r\ndata: 7:1\r", "\n\r", "\n"},
         {{"noticias", "7:1", ""}}},
        {"bare CR ends lines", {"data: a\rdata: b\r\r"}, {{"message", "a\nb", ""}}},
        {"comments keep nothing",
         {": keep-alive\n\n:\n\nevent: noticias\n: x\ndata: 1:1\n\n"},
         {{"noticias", "1:1", ""}}},
        {"an id stays for the later events",
         {"id: 4\ndata: x\n\ndata: y\n\nid\ndata: z\n\n"},
         {{"message", "x", "4"}, {"message", "y", "4"}, {"message", "z", ""}}},
        {"multi-line data, only one blank dropped",
         {"data:  one\ndata:two\ndata\n\n"},
         {{"message", " one\ntwo\n", ""}}},
        {"no data, no event; type does not carry over",
         {"event: noticias\n\nevent: otra\nretry: 10\n\ndata: d\n\n"},
         {{"message", "d", ""}}},
        {"an event not ended yet is not given", {"event: noticias\ndata: 5:3\n"}, {}},
        {"fields the standard does not name are kept apart, in order",
         {"event: noticias\ndata: 5:3\nestado: cerrada\nx\nretry: 10\n\ndata: d\n\n"},
         {{"noticias", "5:3", "", {{"estado", "cerrada"}, {"x", ""}}}, {"message", "d", ""}}},
    };
    testing::ForEachRow(rows, [](const Row& row) { EXPECT_EQ(Parse(row.pieces), row.events); });
}

TEST(EventStreamParserTest, refuses_a_line_without_end) {
    EventStreamParser parser;
    Events events;
    const std::string piece(EventStreamParser::kMaxLineLength / 2, 'x');
    parser.Feed(piece, events);
    parser.Feed(piece, events);
    EXPECT_THROW(parser.Feed("x", events), std::runtime_error);
}

TEST(ChunkedDecoderTest, passes_chunk_data_on_in_pieces_of_any_size) {
    const std::string body = "4;ext=1\r\nabcd\r\n3\r\nefg\r\n0\r\nTrailer: x\r\n\r\nafter";
    for (std::size_t split = 0; split <= body.size(); ++split) {
        SCOPED_TRACE(split);
        ChunkedDecoder decoder;
        std::string data;
        EXPECT_EQ(decoder.Feed(body.substr(0, split), data), split < body.size() - 5);
        EXPECT_FALSE(decoder.Feed(body.substr(split), data));
        EXPECT_EQ(data, "abcdefg");
    }
    ChunkedDecoder bad;
    std::string data;
    EXPECT_THROW(bad.Feed("zz\r\n", data), std::runtime_error);
}

}  // namespace
}  // namespace tertulia
