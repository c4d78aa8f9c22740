#include "widgets/qt/windows_1252.h"

#include <gtest/gtest.h>

namespace tertulia {
namespace {

TEST(Windows1252Test, every_byte_survives_a_round_trip) {
    std::string all;
    for (int byte = 0; byte < 256; ++byte) all.push_back(static_cast<char>(byte));
    const QString text = ToQString(all);
    ASSERT_EQ(text.size(), 256);
    EXPECT_EQ(ToWindows1252(text), all);
}

struct CharacterRow {
    const char* name;
    unsigned char byte;
    char16_t unicode;
};

TEST(Windows1252Test, bytes_map_to_their_characters) {
    const CharacterRow rows[] = {
        {"ascii letter", 'A', u'A'},
        {"euro sign is not a latin-1 control", 0x80, u'\u20AC'},
        {"undefined 81 keeps its own code", 0x81, u'\u0081'},
        {"undefined 8D keeps its own code", 0x8D, u'\u008D'},
        {"undefined 8F keeps its own code", 0x8F, u'\u008F'},
        {"undefined 90 keeps its own code", 0x90, u'\u0090'},
        {"undefined 9D keeps its own code", 0x9D, u'\u009D'},
        {"left double quote", 0x93, u'\u201C'},
        {"last of the high block", 0x9F, u'\u0178'},
        {"non-breaking space", 0xA0, u'\u00A0'},
        {"n with tilde", 0xF1, u'\u00F1'},
        {"y with diaeresis", 0xFF, u'\u00FF'},
    };
    for (const CharacterRow& row : rows) {
        const std::string byte(1, static_cast<char>(row.byte));
        EXPECT_EQ(ToQString(byte), QString(QChar(row.unicode))) << row.name;
        EXPECT_EQ(ToWindows1252(QString(QChar(row.unicode))), byte) << row.name;
    }
}

TEST(Windows1252Test, characters_it_cannot_hold_become_question_marks) {
    struct Row {
        const char* name;
        QString text;
        std::string bytes;
    };
    const Row rows[] = {
        {"ideograph", QStringLiteral(u"a\u65E5b"), "a?b"},
        {"latin-1 control that 1252 replaced", QString(QChar(0x0080)), "?"},
        {"emoji outside the basic plane is one character", QStringLiteral(u"x\U0001F600y"), "x?y"},
        {"lone surrogate", QString(QChar(0xD800)), "?"},
    };
    for (const Row& row : rows) EXPECT_EQ(ToWindows1252(row.text), row.bytes) << row.name;
}

}  // namespace
}  // namespace tertulia
