#include "protocol/ready_answers.h"

#include "protocol/service_protocol.h"

namespace tertulia {

namespace {

constexpr std::string_view kBreak = "<br>";

}  // namespace

std::string WriteReadyAnswersReply(const std::vector<ReadyAnswer>& answers) {
    std::string reply;
    for (const ReadyAnswer& answer : answers) {
        reply += answer.shortcut;
        reply += '|';
        const std::string& text = answer.text;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\r') {
                if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
                reply += kBreak;
            } else if (text[i] == '\n') {
                reply += kBreak;
            } else {
                reply += text[i];
            }
        }
        reply += '\n';
    }
    return reply;
}

std::optional<std::vector<ReadyAnswer>> ReadReadyAnswersReply(std::string_view reply) {
    if (EmpiezaCon(reply, "ERROR")) return std::nullopt;
    std::vector<ReadyAnswer> answers;
    while (!reply.empty()) {
        const std::size_t end = reply.find('\n');
        std::string_view line = reply.substr(0, end);
        reply = end == std::string_view::npos ? std::string_view{} : reply.substr(end + 1);
        if (line.ends_with('\r')) line.remove_suffix(1);
        const std::size_t bar = line.find('|');
        if (bar == std::string_view::npos) continue;
        ReadyAnswer answer{std::string(line.substr(0, bar)), {}};
        std::string_view text = line.substr(bar + 1);
        for (std::size_t at = text.find(kBreak); at != std::string_view::npos;
             at = text.find(kBreak)) {
            answer.text += text.substr(0, at);
            answer.text += '\n';
            text.remove_prefix(at + kBreak.size());
        }
        answer.text += text;
        answers.push_back(std::move(answer));
    }
    return answers;
}

}  // namespace tertulia
