#pragma once

#include <functional>
#include <string>

namespace tertulia {

// Starts a file as a new program; true when it was started. Injectable so that the self-update
// can be exercised without starting programs.
using ProgramStarter = std::function<bool(const std::string& fileName)>;

// Starts the file as a new process with posix_spawn, no arguments but its name, this process's
// environment; true when the spawn succeeded.
bool StartProgram(const std::string& fileName);

}  // namespace tertulia
