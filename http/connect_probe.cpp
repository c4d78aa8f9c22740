#include "http/connect_probe.h"

#include <poll.h>
#include <unistd.h>

#include <exception>

#include "http/tcp_connection.h"
#include "http/url_parts.h"

namespace tertulia {

namespace {

class TcpConnectProbe : public ConnectProbe {
  public:
    explicit TcpConnectProbe(const std::string& url) {
        try {
            // Only the connection is made: an https service is reached on its port as well.
            const UrlParts parts = SplitUrl(url, true);
            fd_ = BeginConnect(parts.host, parts.port);
        } catch (const std::exception&) {
            reach_ = Reach::Unreachable;
        }
    }
    ~TcpConnectProbe() override { Settle(Reach::Unreachable); }
    TcpConnectProbe(const TcpConnectProbe&) = delete;
    TcpConnectProbe& operator=(const TcpConnectProbe&) = delete;

    Reach Check() override {
        if (fd_ < 0) return reach_;
        pollfd entry{fd_, POLLOUT, 0};
        if (::poll(&entry, 1, 0) <= 0) return Reach::Pending;
        Settle(ConnectResult(fd_) == 0 ? Reach::Reachable : Reach::Unreachable);
        return reach_;
    }

  private:
    void Settle(Reach reach) {
        if (fd_ < 0) return;
        ::close(fd_);
        fd_ = -1;
        reach_ = reach;
    }

    int fd_ = -1;
    Reach reach_ = Reach::Pending;
};

}  // namespace

std::unique_ptr<ConnectProbe> StartConnectProbe(const std::string& url) {
    return std::make_unique<TcpConnectProbe>(url);
}

}  // namespace tertulia
