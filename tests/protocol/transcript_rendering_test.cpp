#include "protocol/transcript_rendering.h"

#include <gtest/gtest.h>

#include <string>

namespace tertulia {
namespace {

struct Row {
    const char* name;
    std::string input;
    std::string expected;
};

void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

class RenderingTest : public testing::TestWithParam<Row> {};

TEST_P(RenderingTest, RendersAsTheAreaWouldHoldIt) {
    EXPECT_EQ(RenderizarTranscripcion(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Transcripts, RenderingTest,
    testing::Values(Row{"empty_reply_is_empty_transcript", "", ""},
                    Row{"line_break_tag_breaks_the_line", "Hola<br>Ana", "Hola\r\nAna"},
                    Row{"upper_case_line_break_stays", "Hola<BR>Ana", "Hola<BR>Ana"},
                    Row{"line_break_with_slash_stays", "a<br/>b<br >c", "a<br/>b<br >c"},
                    Row{"bold_tags_removed", "<b>Ana</b>: hola", "Ana: hola"},
                    Row{"upper_case_bold_stays", "<B>Ana</B>", "<B>Ana</B>"},
                    Row{"encoded_tag_is_literal_text", "a&lt;br&gt;b", "a<br>b"},
                    Row{"bold_removal_joins_into_closing_tag", "</<b>b>x", "x"},
                    Row{"bold_removal_does_not_rescan_itself", "<b<b>>x", "<b>x"},
                    Row{"closing_removal_does_not_rescan_itself", "</</b>b>", "</b>"},
                    Row{"tag_removal_joins_into_entity", "&am<b>p;&e</b>acute;", "&\xE9"},
                    Row{"line_break_tag_is_a_barrier", "&am<br>p;", "&am\r\np;"},
                    Row{"bold_inside_line_break_tag_stays_apart", "<b<br>>", "<b\r\n>"},
                    Row{"raw_lf_becomes_crlf", "uno\ndos\n", "uno\r\ndos\r\n"},
                    Row{"lone_cr_becomes_crlf", "uno\rdos", "uno\r\ndos"},
                    Row{"crlf_kept_once", "uno\r\ndos", "uno\r\ndos"},
                    Row{"cr_before_tag_break_gives_two_breaks", "a\r<br>b", "a\r\n\r\nb"},
                    Row{"lf_cr_gives_two_breaks", "a\n\rb", "a\r\n\r\nb"},
                    Row{"partial_tag_at_end_kept", "texto<b", "texto<b"},
                    Row{"nul_and_high_bytes_pass", std::string("a\0\xFF<b>\x80", 7),
                        std::string("a\0\xFF\x80", 4)}),
    [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

class EntityTest : public testing::TestWithParam<Row> {};

TEST_P(EntityTest, DecodesLikeTheSequentialSteps) {
    EXPECT_EQ(DecodificarEntidades(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Entities, EntityTest,
    testing::Values(Row{"capital_n_tilde", "&Ntilde;", "\xD1"},
                    Row{"small_n_tilde", "&ntilde;", "\xF1"},
                    Row{"upper_case_name_stays", "&NTILDE;", "&NTILDE;"},
                    Row{"numeric_reference_stays", "&#241;", "&#241;"},
                    Row{"nbsp_is_plain_space", "a&nbsp;b", "a b"},
                    Row{"apostrophe_and_quote", "&apos;&quot;", "'\""},
                    Row{"first_and_last_latin1", "&iexcl;&yuml;", "\xA1\xFF"},
                    Row{"times_and_divide", "&times;&divide;", "\xD7\xF7"},
                    Row{"amp_then_lt_cascades", "&amp;lt;", "<"},
                    Row{"amp_then_eacute_cascades", "&amp;eacute;", "\xE9"},
                    Row{"amp_then_nbsp_cascades", "&amp;nbsp;", " "},
                    Row{"amp_then_quot_stays_encoded", "&amp;quot;", "&quot;"},
                    Row{"amp_then_apos_stays_encoded", "&amp;apos;", "&apos;"},
                    Row{"amp_removes_one_level", "&amp;amp;", "&amp;"},
                    Row{"amp_before_entity", "&amp;&lt;", "&<"},
                    Row{"missing_semicolon_stays", "&lt &eacute", "&lt &eacute"},
                    Row{"lone_ampersands", "&&&;", "&&&;"},
                    Row{"entity_at_end_without_semicolon", "fin&amp", "fin&amp"},
                    Row{"line_breaks_untouched_here", "a\nb\r", "a\nb\r"}),
    [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

TEST(ErrorReplyTest, OnlyExactUpperCaseWordAtTheStart) {
    EXPECT_TRUE(IsErrorReply("ERROR"));
    EXPECT_TRUE(IsErrorReply("ERROR.Sesion caducada"));
    EXPECT_TRUE(IsErrorReply("ERRORx"));
    EXPECT_FALSE(IsErrorReply("ERRO"));
    EXPECT_FALSE(IsErrorReply("Error"));
    EXPECT_FALSE(IsErrorReply(" ERROR"));
    EXPECT_FALSE(IsErrorReply(""));
}

}  // namespace
}  // namespace tertulia
