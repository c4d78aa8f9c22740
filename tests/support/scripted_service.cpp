#include "tests/support/scripted_service.h"

#include <chrono>

namespace tertulia::testing {

void ScriptedService::Reply(const std::string& body) {
    ReplyRaw(test::Reply("HTTP/1.1 200 OK",
                         {"Content-Length: " + std::to_string(body.size()), "Connection: close"},
                         body));
}

void ScriptedService::ReplyRaw(const std::string& bytes) {
    ReplyInPieces({bytes});
}

void ScriptedService::ReplyInPieces(const std::vector<std::string>& pieces) {
    std::vector<test::ServerStep> script{test::ReadRequest()};
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) script.push_back(test::Pause(std::chrono::milliseconds(200)));
        script.push_back(test::Send(pieces[i]));
    }
    script.push_back(test::Close());
    server_.AddConnection(std::move(script));
}

void ScriptedService::Drop() {
    server_.AddConnection({test::ReadRequest(), test::Close()});
}

std::vector<std::string> ScriptedService::Targets() const {
    std::vector<std::string> targets;
    for (const std::string& head : Requests()) {
        const auto start = head.find(' ') + 1;
        targets.push_back(head.substr(start, head.find(' ', start) - start));
    }
    return targets;
}

std::vector<std::string> ScriptedService::Requests() const {
    std::vector<std::string> heads;
    for (const auto& request : server_.Requests()) heads.push_back(request.bytes);
    return heads;
}

}  // namespace tertulia::testing
