#include "session/conversation_list.h"

#include <gtest/gtest.h>

#include <string>

namespace tertulia {
namespace {

// Rows that only count.
struct CountedRows : ConversationRows {
    void AddRow(const std::string&) override { ++rows; }
    void RemoveRow(int) override { --rows; }
    int SelectedRow() const override { return -1; }
    void SetRowMarked(int, bool) override {}
    void SetRowTyping(int, bool) override {}
    int rows = 0;
};

TEST(BuscarItemTest, FindsTheFirstItemCarryingTheId) {
    CountedRows rows;
    ConversationList list(rows);
    EXPECT_EQ(BuscarItem(list, 5), -1);

    list.Add({5, "Ana", nullptr});
    list.Add({7, "Eva", nullptr});
    list.Add({5, "Ana otra vez", nullptr});
    EXPECT_EQ(rows.rows, 3);
    EXPECT_EQ(BuscarItem(list, 5), 0);
    EXPECT_EQ(BuscarItem(list, 7), 1);
    EXPECT_EQ(BuscarItem(list, 0), -1);
    EXPECT_EQ(BuscarItem(list, -5), -1);
}

}  // namespace
}  // namespace tertulia
