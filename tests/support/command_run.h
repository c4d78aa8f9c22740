#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace tertulia::testing {

// What a command run through the shell left behind: its exit status (-1 if a signal ended it)
// and the exact bytes of its standard output and standard error.
struct CommandRun {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Runs `command` through /bin/sh with its output and errors caught in files "out" and "err"
// under `directory`, so that binary bytes and large outputs arrive whole.
inline CommandRun RunCommand(const std::string& command, const std::string& directory) {
    const std::string out = directory + "/out", err = directory + "/err";
    const int status = std::system((command + " >'" + out + "' 2>'" + err + "'").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadWholeFile(out), ReadWholeFile(err)};
}

}  // namespace tertulia::testing
