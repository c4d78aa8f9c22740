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
                    Row{"worked_example_keeps_accent", "Hola, \xBFqu\xE9 tal?",
                        "Hola%2C%20%BFqu%E9%20tal%3F"},
                    Row{"operator_line_with_accents_and_euro",
                        "\xBFQu\xE9 tal? A\xF1o 2024, s\xED, \x80"
                        "50",
                        "%BFQu%E9%20tal%3F%20A%F1o%202024%2C%20s%ED%2C%20%8050"},
                    Row{"query_characters_escaped", "%&=#", "%25%26%3D%23"},
                    Row{"enye_and_inverted_question", "\xD1\xF1\xBF", "%D1%F1%BF"},
                    Row{"plain_n_letters_literal", "Nn", "Nn"},
                    Row{"only_dropped_characters", "';\xA1\xD7\xF7\xAA\t\r\n", ""},
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
            CaracteresPermitidos.find(static_cast<char>(code)) != std::string_view::npos ||
            IsWindows1252LetterOrEuro(static_cast<unsigned char>(code));
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

// Every character from 128 to 255: those written out here are escaped (the letters of
// Windows-1252, the euro sign and ¿); every other one (symbols, unassigned codes, × and ÷) is
// dropped.
TEST(EncodingTables, HighCharactersKeptOrDropped) {
    const std::string_view kept =
        "\x80\x8A\x8C\x8E\x9A\x9C\x9E\x9F"  // € Š Œ Ž š œ ž Ÿ
        "\xBF"                              // ¿
        "\xC0\xC1\xC2\xC3\xC4\xC5\xC6\xC7\xC8\xC9\xCA\xCB\xCC\xCD\xCE\xCF"
        "\xD0\xD1\xD2\xD3\xD4\xD5\xD6\xD8\xD9\xDA\xDB\xDC\xDD\xDE\xDF"  // not ×
        "\xE0\xE1\xE2\xE3\xE4\xE5\xE6\xE7\xE8\xE9\xEA\xEB\xEC\xED\xEE\xEF"
        "\xF0\xF1\xF2\xF3\xF4\xF5\xF6\xF8\xF9\xFA\xFB\xFC\xFD\xFE\xFF";  // not ÷
    ASSERT_EQ(kept.size(), 8u + 1u + 62u);
    for (int code = 128; code < 256; ++code) {
        const char c = static_cast<char>(code);
        char escaped[4];
        std::snprintf(escaped, sizeof escaped, "%%%02X", code);
        const bool isKept = kept.find(c) != std::string_view::npos;
        EXPECT_EQ(CodificarMensaje(std::string(1, c)), isKept ? escaped : "") << code;
    }
}

}  // namespace
}  // namespace tertulia
