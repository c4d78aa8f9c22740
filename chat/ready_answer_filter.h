#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "protocol/ready_answers.h"

namespace tertulia {

// The company's ready answers that match what the operator typed after "/" in a message line:
// each word typed begins the answer's shortcut or one of the words of its text, letter case
// ignored (Windows-1252 letters included). Nothing typed matches them all; the order is kept.
std::vector<ReadyAnswer> FilterReadyAnswers(const std::vector<ReadyAnswer>& answers,
                                            std::string_view typed);

// An answer as the list of answers shows it, and a screen reader reads it: "SHORTCUT: TEXT".
std::string ReadyAnswerItemText(const ReadyAnswer& answer);

// An answer's text as the one-line message line holds it: its line breaks become spaces, since
// a sent line cannot carry them.
std::string ReadyAnswerLine(const ReadyAnswer& answer);

}  // namespace tertulia
