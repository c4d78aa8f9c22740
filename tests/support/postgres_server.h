#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/daemon_process.h"
#include "tests/support/temporary_directory.h"

namespace tertulia::test {

// Debian's PostgreSQL, a server of its own: a new cluster made with initdb in a temporary
// directory and started with pg_ctl, listening only on a unix socket in that directory, with
// the superuser "tertulia" admitted without a password. Stopped and removed with this object.
// Where the server cannot be started, Running() is false and Error() says why, for a skip.
class PostgresServer {
  public:
    PostgresServer();
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    bool Running() const { return running_; }
    const std::string& Error() const { return error_; }

    // A libpq connection URI for `database` on this server.
    std::string Uri(const std::string& database = "postgres") const;

    // Makes a new empty database and gives its URI; throws std::runtime_error when it cannot.
    std::string CreateDatabase(const std::string& name);

    // Stops every process of the cluster (the postmaster and its backends, each a process of
    // its own) with SIGSTOP, as a server that hangs; Resume lets them go on with SIGCONT.
    // Throws std::runtime_error when the server's processes cannot be found.
    void Pause();
    void Resume();
    // Stops the server as an administrator does (its sessions are ended), and starts it again
    // on the same data; each throws std::runtime_error when pg_ctl fails.
    void Stop();
    void StartAgain() { StartServer(); }
    void Restart() {
        Stop();
        StartAgain();
    }

  private:
    void Start();
    // pg_ctl start on the cluster made; throws with its log when it fails.
    void StartServer();

    std::string bin_;
    // Under /tmp: the server's socket lies there, and a socket's path is short.
    testing::TemporaryDirectory directory_{"tertulia-postgres", "/tmp"};
    DaemonUser user_;
    bool running_ = false;
    std::string error_;
    std::vector<pid_t> paused_;
};

}  // namespace tertulia::test
