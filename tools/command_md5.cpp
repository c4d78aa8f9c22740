#include <cstring>

#include "base/md5.h"
#include "base/stream.h"
#include "tools/commands.h"
#include "tools/tool_io.h"

namespace tertulia::tool {

// md5 [FILE] | md5 -s TEXT
int RunMd5(int argc, char** argv) {
    std::string digest;
    if (argc == 3 && std::strcmp(argv[1], "-s") == 0) {
        digest = Md5TextOfString(argv[2]);
    } else if (argc == 2 && std::strcmp(argv[1], "-s") != 0) {
        FileStream file(argv[1], FileStream::Mode::Read);
        digest = Md5TextOfStream(file);
    } else if (argc == 1) {
        StandardInputStream input;
        digest = Md5TextOfStream(input);
    } else {
        return UsageError();
    }
    return WriteOut(digest + "\n") ? 0 : kExitFailure;
}

}  // namespace tertulia::tool
