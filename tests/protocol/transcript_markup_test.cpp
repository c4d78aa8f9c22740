#include "protocol/transcript_markup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/transcript_rendering.h"
#include "tests/support/table_rows.h"

namespace tertulia {
namespace {

using testing::ForEachRow;

TEST(TranscriptMarkup, lines_are_bold_names_joined_by_line_break_tags) {
    EXPECT_EQ(TranscriptMarkup({}), "");
    EXPECT_EQ(TranscriptMarkup({{"Ana", "hola"}, {"Operador", ""}, {"Ana", "<br>"}}),
              "<b>Ana</b>: hola<br><b>Operador</b>: <br><b>Ana</b>: &lt;br&gt;");
}

TEST(TranscriptMarkup, every_latin1_letter_has_its_entity) {
    std::string all;
    for (int c = 0xA1; c <= 0xFF; ++c) all += static_cast<char>(c);
    const std::string escaped = TranscriptEscape(all);
    EXPECT_TRUE(escaped.starts_with("&iexcl;&cent;&pound;"));
    EXPECT_NE(escaped.find("&Ouml;&times;&Oslash;"), std::string::npos);
    EXPECT_NE(escaped.find("&ouml;&divide;&oslash;"), std::string::npos);
    EXPECT_TRUE(escaped.ends_with("&yacute;&thorn;&yuml;"));
    for (const char c : escaped) EXPECT_TRUE(c >= 0x20 && c < 0x7F);
    // The apostrophe is printable ASCII and stays; the console decodes an escaped one too.
    EXPECT_EQ(TranscriptEscape("'&\"<>"), "'&amp;&quot;&lt;&gt;");
}

struct TranscriptRow {
    const char* name;
    std::vector<TranscriptLine> lines;
    std::string shown;
};

// What the service writes, the console shows as its lines.
TEST(TranscriptMarkup, each_transcript_reads_back_as_its_lines) {
    const std::vector<TranscriptRow> rows = {
        {"no_lines", {}, ""},
        {"lines_joined_by_line_breaks",
         {{"Ana", "hola"}, {"Operador", "buenas"}, {"Ana", ""}},
         "Ana: hola\r\nOperador: buenas\r\nAna: "},
        {"accented_names_and_windows_1252_text",
         {{"Jos\xE9 Mar\xED"
           "a",
           "\xBFS\xED? 5 \x80 \x85"}},
         "Jos\xE9 Mar\xED"
         "a: \xBFS\xED? 5 \x80 \x85"},
        {"markup_in_names_and_text", {{"<b>A</b>", "x<br>y"}}, "<b>A</b>: x<br>y"},
        {"control_characters_as_question_marks", {{"Ana", "a\r\nb\x7F"}}, "Ana: a??b?"},
    };
    ForEachRow(rows, [](const TranscriptRow& row) {
        EXPECT_EQ(RenderizarTranscripcion(TranscriptMarkup(row.lines)), row.shown);
    });
}

// What the console's rendering makes of the markup of one line.
std::string ShownByConsole(const std::string& text) {
    const std::string shown = RenderizarTranscripcion(TranscriptMarkup({{"Ana", text}}));
    EXPECT_TRUE(shown.starts_with("Ana: ")) << shown;
    return shown.substr(5);
}

TEST(TranscriptMarkup, the_console_shows_every_windows_1252_character_as_written) {
    const std::string undefined = "\x81\x8D\x8F\x90\x9D";
    for (int b = 0x20; b < 256; ++b) {
        const std::string byte(1, static_cast<char>(b));
        if (b == 0x7F || undefined.find(byte) != std::string::npos) continue;
        EXPECT_EQ(ShownByConsole(byte), byte) << b;
    }
}

struct ShownRow {
    const char* name;
    std::string written;
    std::string shown;
};

TEST(TranscriptMarkup, markup_and_entities_written_as_text_show_as_written) {
    const std::vector<ShownRow> rows = {
        {"line_break_tag", "a<br>b", "a<br>b"},
        {"bold_tags", "<b>x</b>", "<b>x</b>"},
        {"encoded_ampersand_before_a_name", "&amp;lt;", "&amp;lt;"},
        {"encoded_ampersand_alone", "&amp;", "&amp;"},
        {"quote_entity", "&quot;", "&quot;"},
        {"apostrophe_entity", "&apos;", "&apos;"},
        {"numeric_reference", "&#241;", "&#241;"},
        {"ampersand_and_semicolon", "a&b;c &;", "a&b;c &;"},
        {"unknown_name", "&Eacute2;", "&Eacute2;"},
        // No markup shows these literally: the decoding of "&amp;lt;" goes on to "<".
        {"later_entity_as_text", "&lt;&eacute;&nbsp;", "<\xE9 "},
    };
    ForEachRow(rows,
               [](const ShownRow& row) { EXPECT_EQ(ShownByConsole(row.written), row.shown); });
}

}  // namespace
}  // namespace tertulia
