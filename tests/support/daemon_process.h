#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tertulia::test {

// Who a daemon started by a test runs as. Tests run as root in CI, and some daemons (PostgreSQL)
// refuse root: there they run as "nobody"; anyone else runs them as themselves.
struct DaemonUser {
    uid_t uid = 0;
    gid_t gid = 0;
    bool switchUser = false;
};

// The user for daemons that refuse root; false (with `error`) where there is none.
bool UnprivilegedUser(DaemonUser& user, std::string& error);

// Runs `argv` (argv[0] a path) as `user` with standard output and error appended to `logFile`,
// and waits for it: its exit status, or -1 when it could not be started or ended by a signal.
int RunAs(const DaemonUser& user, const std::vector<std::string>& argv, const std::string& logFile);

// Starts `argv` as a child in the background with output to `logFile`; its pid, or -1.
pid_t StartChild(const std::vector<std::string>& argv, const std::string& logFile);

// A new directory under /tmp, so that the unprivileged user can reach it; owned by `user`.
std::string MakeDaemonDirectory(const std::string& prefix, const DaemonUser& user);

// The whole of a small text file; empty when it cannot be read.
std::string ReadLog(const std::string& path);

// A loopback port that was free a moment ago.
int FreeLoopbackPort();

// Whether something accepts connections on the loopback port.
bool LoopbackAccepts(int port);

}  // namespace tertulia::test
