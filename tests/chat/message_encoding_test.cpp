#include "chat/message_encoding.h"

#include <gtest/gtest.h>

#include <set>
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

class EncodingTest : public testing::TestWithParam<Row> {};

TEST_P(EncodingTest, EncodesCharacterByCharacter) {
    EXPECT_EQ(CodificarMensaje(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, EncodingTest,
    testing::Values(Row{"empty_line", "", ""},
                    Row{"worked_example_drops_accent", "Hola, \xBFqu\xE9 tal?",
                        "Hola%2C%20%BFqu%20tal%3F"},
                    Row{"query_characters_escaped", "%&=#", "%25%26%3D%23"},
                    Row{"enye_and_inverted_question", "\xD1\xF1\xBF", "%D1%F1%BF"},
                    Row{"plain_n_letters_literal", "Nn", "Nn"},
                    Row{"only_dropped_characters", "';\xE1\xC9\xFC\xA1\t\r\n", ""},
                    Row{"nul_and_del_dropped", std::string("a\0b\x7F", 4), "ab"},
                    Row{"all_ascii_punctuation", "~`!@#$^*()-_+|}{\":?><,./[]\\",
                        "%7E%60%21%40%23%24%5E%2A%28%29%2D%5F%2B%7C%7D%7B%22%3A%3F%3E%3C%2C%2E%2F"
                        "%5B%5D%5C"}),
    [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

TEST(EncodingTables, PermittedHoldsNinetySixDistinctCharacters) {
    EXPECT_EQ(CaracteresPermitidos.size(), 96u);
    EXPECT_EQ(std::set<char>(CaracteresPermitidos.begin(), CaracteresPermitidos.end()).size(), 96u);
    EXPECT_EQ(CaracteresPermitidos.back(), ' ');
    EXPECT_EQ(CaracteresLiterales.size(), 64u);
}

TEST(EncodingTables, EveryByteGivesOnlyLettersDigitsOrEscapes) {
    for (int code = 0; code < 256; ++code) {
        const std::string out = CodificarMensaje(std::string(1, static_cast<char>(code)));
        const bool permitted =
            CaracteresPermitidos.find(static_cast<char>(code)) != std::string_view::npos;
        const bool alnum = (code >= '0' && code <= '9') || (code >= 'A' && code <= 'Z') ||
                           (code >= 'a' && code <= 'z');
        if (!permitted) {
            EXPECT_EQ(out, "") << code;
        } else if (alnum) {
            EXPECT_EQ(out, std::string(1, static_cast<char>(code)));
        } else {
            char expected[4];
            std::snprintf(expected, sizeof expected, "%%%02X", code);
            EXPECT_EQ(out, expected);
        }
    }
}

}  // namespace
}  // namespace tertulia
