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

// Hands a directory (under /tmp, where the unprivileged user can reach it) to `user`.
void GiveDirectoryTo(const std::string& path, const DaemonUser& user);

// A loopback port that was free a moment ago.
int FreeLoopbackPort();

// Whether something accepts connections on the loopback port.
bool LoopbackAccepts(int port);

}  // namespace tertulia::test
