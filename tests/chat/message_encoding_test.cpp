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
    testing::Values(
        Row{"empty_line", "", ""},
        Row{"worked_example_keeps_accent", "Hola, \xBFqu\xE9 tal?", "Hola%2C%20%BFqu%E9%20tal%3F"},
        Row{"operator_line_with_accents_and_euro",
            "\xBFQu\xE9 tal? A\xF1o 2024, s\xED, \x80"
            "50",
            "%BFQu%E9%20tal%3F%20A%F1o%202024%2C%20s%ED%2C%20%8050"},
        Row{"query_characters_escaped", "%&=#", "%25%26%3D%23"},
        Row{"enye_and_inverted_question", "\xD1\xF1\xBF", "%D1%F1%BF"},
        Row{"plain_n_letters_literal", "Nn", "Nn"},
        Row{"only_dropped_characters", "';\x81\x8D\x8F\x90\x9D\t\r\n", ""},
        Row{"spanish_signs_and_no_break_space",
            "\xA1oferta!\xA0\xAB\xBB\xAA\xBA\xB0\x93\x94\x91\x92\x85\x96\x97\xA3\xD7\xF7",
            "%A1oferta%21%A0%AB%BB%AA%BA%B0%93%94%91%92%85%96%97%A3%D7%F7"},
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
            IsPrintableWindows1252Above127(static_cast<unsigned char>(code));
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

// Every character from 128 to 255 is escaped, except the five that Windows-1252 leaves undefined.
TEST(EncodingTables, HighCharactersEscapedButTheUndefined) {
    const std::string_view undefined = "\x81\x8D\x8F\x90\x9D";
    for (int code = 128; code < 256; ++code) {
        const char c = static_cast<char>(code);
        char escaped[4];
        std::snprintf(escaped, sizeof escaped, "%%%02X", code);
        const bool isUndefined = undefined.find(c) != std::string_view::npos;
        EXPECT_EQ(CodificarMensaje(std::string(1, c)), isUndefined ? "" : escaped) << code;
    }
}

struct NoticeRow {
    const char* name;
    std::string line;
    std::string dropped;  // CaracteresNoEnviados
    std::string notice;   // AvisoNoEnviados
};

void PrintTo(const NoticeRow& row, std::ostream* os) {
    *os << row.name;
}

class NoticeTest : public testing::TestWithParam<NoticeRow> {};

TEST_P(NoticeTest, NamesWhatTheLineLost) {
    EXPECT_EQ(CaracteresNoEnviados(GetParam().line), GetParam().dropped);
    EXPECT_EQ(AvisoNoEnviados(GetParam().line), GetParam().notice);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, NoticeTest,
    testing::Values(NoticeRow{"nothing_lost", "\xA1Hola, se\xF1or! \x80 \xA0", "", ""},
                    NoticeRow{"apostrophe_and_semicolon_each_once", "l'a; b'c;", "';",
                              "No se enviaron los caracteres: ' ;"},
                    NoticeRow{"controls_named_once_after_the_rest", "a\tb\x1B;\x7F\x90",
                              "\t\x1B;\x7F\x90",
                              "No se enviaron los caracteres: ; (caracteres de control)"},
                    NoticeRow{"only_controls", "a\tb", "\t",
                              "No se enviaron los caracteres: (caracteres de control)"}),
    [](const testing::TestParamInfo<NoticeRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tertulia
