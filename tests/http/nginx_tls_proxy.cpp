#include "tests/http/nginx_tls_proxy.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/http/nginx_server.h"

namespace tertulia::test {

namespace {

struct SiteSetup {
    const char* certificate;
    const char* keepAlive;
};

constexpr SiteSetup kSites[] = {
    {"good", "75s"},    {"expired", "75s"}, {"wronghost", "75s"},
    {"unknown", "75s"}, {"good", "300ms"},
};

}  // namespace

NginxTlsProxy::NginxTlsProxy(int backendPort) {
    const std::string& d = directory_.path();
    std::filesystem::create_directory(FilesDirectory());
    const std::string makeCertificates = std::string(TERTULIA_SOURCE_DIR) +
                                         "/tests/http/make_test_certificates.sh '" + d +
                                         "/certificates'";
    if (std::system(makeCertificates.c_str()) != 0) {
        error_ = "the openssl command could not make the test certificates";
        return;
    }

    std::ofstream config(d + "/nginx.conf");
    WriteNginxConfigStart(config, d);
    config << "  ssl_protocols TLSv1.2 TLSv1.3;\n";
    std::vector<int> ports;
    for (std::size_t i = 0; i < std::size(kSites); ++i) {
        ports_[i] = FreeLoopbackPort();
        ports.push_back(ports_[i]);
        const std::string certificate = d + "/certificates/" + kSites[i].certificate;
        config << "  server {\n"
               << "    listen 127.0.0.1:" << ports_[i] << " ssl;\n"
               << "    ssl_certificate " << certificate << ".pem;\n"
               << "    ssl_certificate_key " << certificate << ".key;\n"
               << "    keepalive_timeout " << kSites[i].keepAlive << ";\n"
               << "    location /files/ { root " << d << "; }\n"
               << "    location = /connection { return 200 \"$connection\"; }\n"
               << "    location = /server-name { return 200 \"$ssl_server_name\"; }\n"
               << "    location = /secure-cookie { add_header Set-Cookie \"s=1; Secure; path=/\"; "
                  "return 200 \"set\"; }\n"
               << "    location / { proxy_pass http://127.0.0.1:" << backendPort << "; }\n"
               << "  }\n";
    }
    config << "}\n";
    config.close();
    pid_ = StartNginx(d, d + "/nginx.conf", ports, error_);
}

NginxTlsProxy::~NginxTlsProxy() {
    if (pid_ > 0) StopNginx(pid_);
}

std::string NginxTlsProxy::Url(Site site, const std::string& target,
                               const std::string& host) const {
    return "https://" + host + ":" + std::to_string(ports_[static_cast<int>(site)]) + target;
}

}  // namespace tertulia::test
