#include "chat/ready_answer_filter.h"

#include <algorithm>

namespace tertulia {

namespace {

// Lower case of a Windows-1252 character: A-Z and the accented capitals À-Þ but ×.
char Lower(char c) {
    const auto code = static_cast<unsigned char>(c);
    if ((code >= 'A' && code <= 'Z') || (code >= 0xC0 && code <= 0xDE && code != 0xD7)) {
        return static_cast<char>(code + 0x20);
    }
    if (code == 0x8A || code == 0x8C || code == 0x8E) return static_cast<char>(code + 0x10);
    return c;
}

bool IsSeparator(char c) {
    const auto code = static_cast<unsigned char>(c);
    return code <= ' ' || std::string_view(",.;:!?\xA1\xBF()\"'").find(c) != std::string_view::npos;
}

std::vector<std::string_view> WordsOf(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && IsSeparator(text[at])) ++at;
        const std::size_t begin = at;
        while (at < text.size() && !IsSeparator(text[at])) ++at;
        if (at > begin) words.push_back(text.substr(begin, at - begin));
    }
    return words;
}

bool Begins(std::string_view text, std::string_view start) {
    return text.size() >= start.size() &&
           std::equal(start.begin(), start.end(), text.begin(),
                      [](char a, char b) { return Lower(a) == Lower(b); });
}

bool Matches(const ReadyAnswer& answer, std::string_view typedWord) {
    if (Begins(answer.shortcut, typedWord)) return true;
    const std::vector<std::string_view> words = WordsOf(answer.text);
    return std::any_of(words.begin(), words.end(),
                       [typedWord](std::string_view word) { return Begins(word, typedWord); });
}

}  // namespace

std::vector<ReadyAnswer> FilterReadyAnswers(const std::vector<ReadyAnswer>& answers,
                                            std::string_view typed) {
    const std::vector<std::string_view> typedWords = WordsOf(typed);
    std::vector<ReadyAnswer> matching;
    for (const ReadyAnswer& answer : answers) {
        if (std::all_of(typedWords.begin(), typedWords.end(),
                        [&answer](std::string_view word) { return Matches(answer, word); })) {
            matching.push_back(answer);
        }
    }
    return matching;
}

std::string ReadyAnswerItemText(const ReadyAnswer& answer) {
    return answer.shortcut + ": " + ReadyAnswerLine(answer);
}

std::string ReadyAnswerLine(const ReadyAnswer& answer) {
    std::string line = answer.text;
    std::replace(line.begin(), line.end(), '\n', ' ');
    return line;
}

}  // namespace tertulia
