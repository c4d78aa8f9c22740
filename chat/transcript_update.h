#pragma once

#include <string>
#include <string_view>

namespace tertulia {

// What a conversation window does with a transcript reply, given the text its area holds.
struct TranscriptUpdate {
    enum class Kind {
        ShowError,       // `text` is the whole reply, for the error box; the area is not touched
        LeaveUntouched,  // `text`, the rendered reply, equals the area's; caret and scroll stay
        Replace,         // `text` replaces the area's whole text
    };
    Kind kind = Kind::LeaveUntouched;
    std::string text;
    bool operator==(const TranscriptUpdate&) const = default;
};
TranscriptUpdate DecideTranscriptUpdate(std::string_view reply, std::string_view areaText);

}  // namespace tertulia
