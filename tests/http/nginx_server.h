#pragma once

#include <ostream>
#include <string>
#include <vector>

#include <sys/types.h>

#include "tests/support/temporary_directory.h"

#include "tests/support/daemon_process.h"

namespace tertulia::test {

// Debian's nginx, run in the foreground with a configuration of its own in a temporary
// directory, serving that directory's "www" folder on two loopback ports: one that keeps idle
// connections for a long time, one that closes them after 300 ms.
class NginxServer {
  public:
    NginxServer();
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    static bool Available();

    bool Running() const { return pid_ > 0; }
    const std::string& Error() const { return error_; }
    std::string WwwDirectory() const { return directory_.path() + "/www"; }
    std::string Url(const std::string& target) const;
    std::string ShortKeepAliveUrl(const std::string& target) const;

  private:
    testing::TemporaryDirectory directory_{"tertulia-nginx"};
    int port_ = 0;
    int shortKeepAlivePort_ = 0;
    pid_t pid_ = -1;
    std::string error_;
};

// Writes the opening of an nginx configuration that keeps every file under `directory`:
// process settings and the start of the "http" block, which the caller fills and closes.
void WriteNginxConfigStart(std::ostream& config, const std::string& directory);
// Starts Debian's nginx in the foreground on `configFile` (its files under `directory`) and
// waits until every one of `ports` accepts; the process id, or -1 with `error` set.
pid_t StartNginx(const std::string& directory, const std::string& configFile,
                 const std::vector<int>& ports, std::string& error);
// Stops an nginx that StartNginx started.
void StopNginx(pid_t pid);

}  // namespace tertulia::test
