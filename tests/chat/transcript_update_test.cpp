#include "chat/transcript_update.h"

#include <gtest/gtest.h>

namespace tertulia {
namespace {

TEST(DecisionTest, ErrorReplyShownWholeAndAreaKept) {
    EXPECT_EQ(DecideTranscriptUpdate("ERROR.No existe", "texto"),
              (TranscriptUpdate{TranscriptUpdate::Kind::ShowError, "ERROR.No existe"}));
}

TEST(DecisionTest, SameRenderedTextLeavesTheAreaAlone) {
    EXPECT_EQ(DecideTranscriptUpdate("<b>Ana</b>: hola<br>", "Ana: hola\r\n").kind,
              TranscriptUpdate::Kind::LeaveUntouched);
}

TEST(DecisionTest, OneCharacterDifferenceReplacesEverything) {
    EXPECT_EQ(DecideTranscriptUpdate("Ana: hola!<br>", "Ana: hola\r\n"),
              (TranscriptUpdate{TranscriptUpdate::Kind::Replace, "Ana: hola!\r\n"}));
}

TEST(DecisionTest, EmptyReplyClearsTheArea) {
    EXPECT_EQ(DecideTranscriptUpdate("", "algo"),
              (TranscriptUpdate{TranscriptUpdate::Kind::Replace, ""}));
}

}  // namespace
}  // namespace tertulia
