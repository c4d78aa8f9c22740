#pragma once

namespace tertulia::tool {

// Each subcommand gets its own arguments: argv[0] is the subcommand's name. The result is the
// process exit status: 0 done, 1 failed (message on standard error), 2 usage error.
int RunMd5(int argc, char** argv);
int RunRender(int argc, char** argv);
int RunEncode(int argc, char** argv);
int RunReply(int argc, char** argv);
int RunTempfile(int argc, char** argv);
int RunGet(int argc, char** argv);

inline constexpr int kExitFailure = 1;

// Writes the usage text to standard error and returns the usage-error status, 2.
int UsageError();

}  // namespace tertulia::tool
