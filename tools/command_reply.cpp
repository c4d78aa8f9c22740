#include <string>
#include <string_view>

#include "protocol/service_protocol.h"
#include "tools/commands.h"
#include "tools/tool_io.h"

namespace tertulia::tool {

namespace {

std::string DescribeLogin(std::string_view reply) {
    const LoginReply login = ReadLoginReply(reply);
    switch (login.kind) {
        case LoginReply::Kind::Ok:
            return "ok\n" + login.idSesion + "\n";
        case LoginReply::Kind::Error:
            return "error\n";
        case LoginReply::Kind::Refused:
            break;
    }
    return "refused\n";
}

std::string DescribeNews(std::string_view reply) {
    const NewsReply news = ReadNewsReply(reply);
    switch (news.kind) {
        case NewsReply::Kind::List:
            break;
        case NewsReply::Kind::ErrorStatus:
            return "error-status\n";
        case NewsReply::Kind::Error:
            return "error\n";
        case NewsReply::Kind::Other:
            return "login\n";
    }
    std::string out = "list\n";
    for (const NewsEntry& entry : news.entries)
        out += std::to_string(entry.idSesionClt) + "\t" + entry.nombre + "\n";
    if (news.stoppedAtBadId) out += "stop\n";
    return out;
}

std::string DescribeUpdate(std::string_view reply) {
    const UpdateReply update = ReadUpdateReply(reply);
    if (!update.outdated) return "current\n";
    return "outdated\t" + update.digest + "\t" + update.address + "\n";
}

}  // namespace

// reply login|news|close|update: what the program makes of a reply read from standard input.
int RunReply(int argc, char** argv) {
    if (argc != 2) return UsageError();
    const std::string_view kind = argv[1];
    std::string (*describe)(std::string_view) = nullptr;
    if (kind == "login") {
        describe = DescribeLogin;
    } else if (kind == "news") {
        describe = DescribeNews;
    } else if (kind == "close") {
        describe = [](std::string_view reply) -> std::string {
            return ReadCloseReply(reply).ok ? "ok\n" : "error\n";
        };
    } else if (kind == "update") {
        describe = DescribeUpdate;
    } else {
        return UsageError();
    }
    return WriteOut(describe(ReadStandardInput())) ? 0 : kExitFailure;
}

}  // namespace tertulia::tool
