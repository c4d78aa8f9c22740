#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "tests/support/whole_file.h"

namespace tertulia::testing {

// What a command run through the shell left behind: its exit status (-1 if a signal ended it)
// and the exact bytes of its standard output and standard error.
struct CommandRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs `command` through /bin/sh with its output and errors caught in files "out" and "err"
// under `directory`, so that binary bytes and large outputs arrive whole.
inline CommandRun RunCommand(const std::string& command, const std::string& directory) {
    const std::string out = directory + "/out", err = directory + "/err";
    const int status = std::system((command + " >'" + out + "' 2>'" + err + "'").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadWholeFile(out), ReadWholeFile(err)};
}

}  // namespace tertulia::testing
