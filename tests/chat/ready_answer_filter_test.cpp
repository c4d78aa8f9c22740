#include "chat/ready_answer_filter.h"

#include <gtest/gtest.h>

#include "tests/support/table_rows.h"

namespace tertulia {
namespace {

const std::vector<ReadyAnswer> kAnswers = {
    {"saludo",
     "Hola, buenos d\xED"
     "as."},
    {"envios",
     "Enviamos a toda Espa\xF1"
     "a en 48 horas.\nLos env\xED"
     "os a \xC1"
     "frica tardan m\xE1s."},
    {"despedida", "Gracias por escribirnos."},
};

TEST(ReadyAnswerFilterTest, what_follows_the_slash_begins_the_shortcut_or_words_of_the_text) {
    struct Row {
        const char* name;
        std::string typed;
        std::vector<std::string> shortcuts;
    };
    const Row rows[] = {
        {"nothing typed offers them all", "", {"saludo", "envios", "despedida"}},
        {"the beginning of a shortcut, any case", "SALU", {"saludo"}},
        {"a word of the text", "gracias", {"despedida"}},
        {"accented capitals match their small letters",
         "\xE1"
         "frica",
         {"envios"}},
        {"a word after a line break", "los", {"envios"}},
        {"every typed word must match", "env horas", {"envios"}},
        {"one typed word unmatched", "env adios", {}},
        {"inside a word is no match", "ludo", {}},
    };
    testing::ForEachRow(rows, [](const Row& row) {
        std::vector<std::string> shortcuts;
        for (const ReadyAnswer& answer : FilterReadyAnswers(kAnswers, row.typed)) {
            shortcuts.push_back(answer.shortcut);
        }
        EXPECT_EQ(shortcuts, row.shortcuts);
    });
}

TEST(ReadyAnswerFilterTest, an_answer_in_the_list_and_in_the_message_line_has_no_line_breaks) {
    EXPECT_EQ(ReadyAnswerItemText(kAnswers[1]),
              "envios: Enviamos a toda Espa\xF1"
              "a en 48 horas. Los env\xED"
              "os a \xC1"
              "frica tardan m\xE1s.");
    EXPECT_EQ(ReadyAnswerLine(kAnswers[0]), kAnswers[0].text);
}

}  // namespace
}  // namespace tertulia
