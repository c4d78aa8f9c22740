#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tertulia {

// A company's ready answer: the operator picks it by its shortcut and its text goes into the
// message line.
struct ReadyAnswer {
    std::string shortcut;
    std::string text;  // Windows-1252, "\n" between lines
    bool operator==(const ReadyAnswer&) const = default;
};

// One line "SHORTCUT|TEXT" per answer, each ended by "\n", the text's line breaks ("\r\n",
// "\r" or "\n") written as "<br>". A "<br>" typed in a text reads back as a line break.
std::string WriteReadyAnswersReply(const std::vector<ReadyAnswer>& answers);

// The answers in reply order; nothing when the reply is an "ERROR" text (as from an older
// service, which knows no such request). Lines may end in "\r\n"; a line without "|" is skipped.
std::optional<std::vector<ReadyAnswer>> ReadReadyAnswersReply(std::string_view reply);

}  // namespace tertulia
