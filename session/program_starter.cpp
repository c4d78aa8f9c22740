#include "session/program_starter.h"

#include <spawn.h>
#include <sys/types.h>

extern char** environ;

namespace tertulia {

bool StartProgram(const std::string& fileName) {
    std::string argument0 = fileName;
    char* argv[] = {argument0.data(), nullptr};
    pid_t pid = 0;
    return ::posix_spawn(&pid, fileName.c_str(), nullptr, nullptr, argv, environ) == 0;
}

}  // namespace tertulia
