#pragma once

#include <string>

#include <sys/types.h>

#include "tests/support/temporary_directory.h"

namespace tertulia::test {

// Debian's nginx terminating TLS on loopback ports in front of a plain HTTP server on
// 127.0.0.1 (`backendPort`), with the certificates that make_test_certificates.sh makes in a
// temporary directory: one port per certificate. Paths under "/files/" are served from
// FilesDirectory(); "/connection" answers nginx's number of the client's connection,
// "/server-name" the name the client sent by SNI,
// "/secure-cookie" sets a Secure cookie; every other path goes to the backend. The test
// authority is CaFile().
class NginxTlsProxy {
  public:
    enum class Site { Good, Expired, WrongHost, UnknownIssuer, ShortKeepAlive };

    explicit NginxTlsProxy(int backendPort);
    ~NginxTlsProxy();
    NginxTlsProxy(const NginxTlsProxy&) = delete;
    NginxTlsProxy& operator=(const NginxTlsProxy&) = delete;

    bool Running() const { return pid_ > 0; }
    const std::string& Error() const { return error_; }
    std::string CaFile() const { return directory_.path() + "/certificates/ca.pem"; }
    std::string FilesDirectory() const { return directory_.path() + "/files"; }
    // "https://HOST:PORT" and the target; the host is 127.0.0.1 unless given.
    std::string Url(Site site, const std::string& target,
                    const std::string& host = "127.0.0.1") const;

  private:
    testing::TemporaryDirectory directory_{"tertulia-nginx-tls"};
    int ports_[5] = {};
    pid_t pid_ = -1;
    std::string error_;
};

}  // namespace tertulia::test
