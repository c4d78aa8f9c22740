// tertulia-tool: the program's text handling and digests on the command line, for operators
// and service administrators. Bytes in, bytes out.

#include <cstring>
#include <exception>

#include "tools/commands.h"
#include "tools/tool_io.h"

namespace tertulia::tool {

int UsageError() {
    WriteError(
        "usage: tertulia-tool md5 [FILE]       digest text of FILE (standard input without it)\n"
        "       tertulia-tool md5 -s TEXT      digest text of TEXT\n"
        "       tertulia-tool render           transcript reply (stdin) as the window shows it\n"
        "       tertulia-tool encode           a line (stdin) as the send request carries it\n"
        "       tertulia-tool reply login|news|close|update\n"
        "                                      what the program makes of a reply (stdin)\n"
        "       tertulia-tool tempfile         create a temporary file, print its name\n"
        "       tertulia-tool get [--progress] URL...\n"
        "       tertulia-tool get [--progress] -o FILE URL\n"
        "                                      fetch URLs through one HTTP client\n");
    return 2;
}

namespace {

struct Command {
    const char* name;
    int (*run)(int argc, char** argv);
};

constexpr Command kCommands[] = {
    {"md5", RunMd5},     {"render", RunRender},     {"encode", RunEncode},
    {"reply", RunReply}, {"tempfile", RunTempfile}, {"get", RunGet},
};

}  // namespace

}  // namespace tertulia::tool

int main(int argc, char** argv) {
    using namespace tertulia::tool;
    if (argc < 2) return UsageError();
    for (const Command& command : kCommands) {
        if (std::strcmp(argv[1], command.name) != 0) continue;
        try {
            return command.run(argc - 1, argv + 1);
        } catch (const std::exception& failure) {
            return Fail(failure.what());
        }
    }
    return UsageError();
}
