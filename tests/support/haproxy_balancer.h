#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/temporary_directory.h"

namespace tertulia::test {

// Debian's haproxy in the foreground, balancing HTTP requests round robin over the given
// loopback backend ports, from a loopback port of its own. Each request is balanced by itself,
// also on a kept-alive connection. A request whose backend refuses the connection is sent to
// another backend. Stopped with this object. Where haproxy cannot be started, Running() is
// false and Error() says why, for a skip.
class HaproxyBalancer {
  public:
    explicit HaproxyBalancer(const std::vector<int>& backendPorts);
    ~HaproxyBalancer();
    HaproxyBalancer(const HaproxyBalancer&) = delete;
    HaproxyBalancer& operator=(const HaproxyBalancer&) = delete;

    bool Running() const { return pid_ > 0; }
    const std::string& Error() const { return error_; }
    int Port() const { return port_; }
    std::string Url() const;  // "http://127.0.0.1:PORT"

  private:
    testing::TemporaryDirectory directory_{"tertulia-haproxy"};
    int port_ = 0;
    pid_t pid_ = -1;
    std::string error_;
};

}  // namespace tertulia::test
