#include "protocol/reply_fields.h"

#include <gtest/gtest.h>

#include <string>

namespace tertulia {
namespace {

struct SplitRow {
    const char* name;
    std::string texto;
    std::string separador;
    bool flag;
    std::string antes;    // TextoAntes
    std::string despues;  // TextoDespues
};

void PrintTo(const SplitRow& row, std::ostream* os) {
    *os << row.name;
}

class SplitTest : public testing::TestWithParam<SplitRow> {};

TEST_P(SplitTest, BeforeAndAfterTheFirstSeparator) {
    const SplitRow& row = GetParam();
    EXPECT_EQ(TextoAntes(row.texto, row.separador, row.flag), row.antes);
    EXPECT_EQ(TextoDespues(row.texto, row.separador, row.flag), row.despues);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SplitTest,
    testing::Values(SplitRow{"id_and_name", "12=Ana", "=", false, "12", "Ana"},
                    SplitRow{"flag_keeps_separator", "12=Ana", "=", true, "12=", "=Ana"},
                    SplitRow{"missing_separator", "12", "=", false, "12", ""},
                    SplitRow{"missing_separator_flag_on", "12", "=", true, "12", ""},
                    SplitRow{"separator_first", "=Ana", "=", false, "", "Ana"},
                    SplitRow{"separator_last", "12=", "=", false, "12", ""},
                    SplitRow{"only_first_separator_counts", "1=a=b", "=", false, "1", "a=b"},
                    SplitRow{"letter_case_matters", "OK", "ok", false, "OK", ""},
                    SplitRow{"empty_separator_never_found", "abc", "", true, "abc", ""},
                    SplitRow{"empty_text", "", "=", true, "", ""},
                    SplitRow{"longer_separator", "a<->b<->c", "<->", false, "a", "b<->c"},
                    SplitRow{"nul_bytes_are_text", std::string("a\0=\0b", 5), "=", false,
                             std::string("a\0", 2), std::string("\0b", 2)}),
    [](const testing::TestParamInfo<SplitRow>& info) { return std::string(info.param.name); });

TEST(RecortarHastaTest, CutsThroughOrToTheFirstSeparator) {
    std::string text = "OK,5=Ana|";
    RecortarHasta(text, ",", true);
    EXPECT_EQ(text, "5=Ana|");

    text = "OK,5=Ana|";
    RecortarHasta(text, ",", false);
    EXPECT_EQ(text, ",5=Ana|");

    text = "OK";
    RecortarHasta(text, ",", true);
    EXPECT_EQ(text, "");

    text = "OK,";
    RecortarHasta(text, "", false);
    EXPECT_EQ(text, "");
}

TEST(ExtraerCampoTest, TakesFieldsOneByOneIncludingEmptyOnes) {
    std::string text = "a||b";
    std::string field = "stale";
    ExtraerCampo(text, "|", field);
    EXPECT_EQ(field, "a");
    EXPECT_EQ(text, "|b");
    ExtraerCampo(text, "|", field);
    EXPECT_EQ(field, "");
    EXPECT_EQ(text, "b");
    ExtraerCampo(text, "|", field);
    EXPECT_EQ(field, "b");
    EXPECT_EQ(text, "");
    ExtraerCampo(text, "|", field);
    EXPECT_EQ(field, "");
    EXPECT_EQ(text, "");
}

}  // namespace
}  // namespace tertulia
