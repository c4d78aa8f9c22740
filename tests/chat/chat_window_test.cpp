#include "chat/chat_window.h"

#include <gtest/gtest.h>

#include "tests/session/console_harness.h"

namespace tertulia {
namespace {

using testing::ConsoleHarness;
using testing::RecordingChatView;

// Window behaviour that makes no request.
struct ChatWindowTest : ::testing::Test {
    ChatWindowTest()
        : window(harness.console, harness.view.CreateChatView()), view(harness.Chat(0)) {}
    ConsoleHarness harness{"http://127.0.0.1:9"};
    TfrmChatClt window;
    RecordingChatView& view;
};

TEST_F(ChatWindowTest, ItsPollTimerRunsEvery15SecondsFromCreation) {
    EXPECT_EQ(view.handlers, &window);
    EXPECT_EQ(view.timer.interval, 15000);
    EXPECT_TRUE(view.timer.Enabled());
    EXPECT_TRUE(view.timer.HasHandler());
}

TEST_F(ChatWindowTest, ShowTakesTheMarginAndResizeKeepsIt) {
    view.Show();
    EXPECT_TRUE(view.MessageLineHasFocus());
    EXPECT_EQ(window.MargenDerecho, 77);
    view.outerWidth = 611;
    window.FormResize();
    EXPECT_EQ(view.messageWidth, 486);
    EXPECT_EQ(view.sendButtonLeft, 536);
    view.outerWidth = 100;  // no minimum width
    window.FormResize();
    EXPECT_EQ(view.messageWidth, -25);
    EXPECT_EQ(view.sendButtonLeft, 25);
}

TEST_F(ChatWindowTest, CloseFromTheFrameOnlyHides) {
    view.Show();
    window.FormCloseQuery();
    EXPECT_FALSE(view.IsVisible());
    EXPECT_TRUE(view.timer.Enabled());
}

TEST_F(ChatWindowTest, EveryKeyBeginsAFullNewPollInterval) {
    const int starts = view.timer.starts;
    window.edMensajeKeyPress('h');
    window.edMensajeKeyPress('\b');
    EXPECT_EQ(view.timer.starts, starts + 2);
    EXPECT_TRUE(view.timer.Enabled());
}

TEST_F(ChatWindowTest, PollsWithoutVisibilityOrFocusSendNothing) {
    // The service address is closed: a request would fail.
    window.Timer1Timer();  // hidden
    view.Show();
    view.LoseFocus();
    window.Timer1Timer();  // focus elsewhere
    EXPECT_NO_THROW(window.Timer1Timer());
    view.message = " \t ";
    window.edMensajeKeyPress('\r');  // only blanks: nothing sent, line emptied
    EXPECT_EQ(view.messageHistory, (std::vector<std::string>{"", ""}));
}

TEST(TrimMessageTest, RemovesCodesUpTo32AtBothEndsOnly) {
    EXPECT_EQ(TrimMessage("  hola  "), "hola");
    EXPECT_EQ(TrimMessage("\x01\t\r\nhola que\x1F "), "hola que");
    EXPECT_EQ(TrimMessage("   "), "");
    EXPECT_EQ(TrimMessage("\xA0x\xA0"), "\xA0x\xA0");  // the no-break space stays
}

}  // namespace
}  // namespace tertulia
