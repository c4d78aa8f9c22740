#pragma once

#include <memory>
#include <string>

namespace tertulia {

// Whether a service's host accepts TCP connections on its port, learnt without waiting: the
// connection is begun at once and looked at later, so that a host that does not answer never
// holds the caller up. Nothing is sent on it, and it is closed as soon as its fate is known.
class ConnectProbe {
  public:
    enum class Reach { Pending, Reachable, Unreachable };

    virtual ~ConnectProbe() = default;
    // Looks without waiting; once settled, the answer stays.
    virtual Reach Check() = 0;
};

// Begins a connection to the host and port of `url`. A URL that cannot be split, a name that
// does not resolve or a connection refused at once give a probe that is Unreachable already.
std::unique_ptr<ConnectProbe> StartConnectProbe(const std::string& url);

}  // namespace tertulia
