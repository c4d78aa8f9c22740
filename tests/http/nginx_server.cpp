#include "tests/http/nginx_server.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/support/whole_file.h"

namespace tertulia::test {

namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";

}  // namespace

void WriteNginxConfigStart(std::ostream& config, const std::string& d) {
    config << "worker_processes 1;\n"
           << "user root;\n"
           << "error_log " << d << "/error.log;\n"
           << "pid " << d << "/nginx.pid;\n"
           << "events { worker_connections 64; }\n"
           << "http {\n"
           << "  access_log off;\n"
           << "  client_body_temp_path " << d << "/body;\n"
           << "  proxy_temp_path " << d << "/proxy;\n"
           << "  fastcgi_temp_path " << d << "/fastcgi;\n"
           << "  uwsgi_temp_path " << d << "/uwsgi;\n"
           << "  scgi_temp_path " << d << "/scgi;\n"
           << "  default_type application/octet-stream;\n"
           << "  sendfile on;\n";
}

pid_t StartNginx(const std::string& directory, const std::string& configFile,
                 const std::vector<int>& ports, std::string& error) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const std::string errorLog = directory + "/error.log";
        ::execl(kNginx, kNginx, "-e", errorLog.c_str(), "-p", directory.c_str(), "-c",
                configFile.c_str(), "-g", "daemon off;", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (const int port : ports) {
        while (!LoopbackAccepts(port)) {
            int status = 0;
            const bool ended = ::waitpid(pid, &status, WNOHANG) == pid;
            if (ended || std::chrono::steady_clock::now() > deadline) {
                if (!ended) StopNginx(pid);
                error = "nginx did not start: " + testing::ReadWholeFile(directory + "/error.log");
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    return pid;
}

void StopNginx(pid_t pid) {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

bool NginxServer::Available() {
    return ::access(kNginx, X_OK) == 0;
}

NginxServer::NginxServer() {
    const std::string& d = directory_.path();
    std::filesystem::create_directory(d + "/www");
    port_ = FreeLoopbackPort();
    shortKeepAlivePort_ = FreeLoopbackPort();
    std::ofstream config(d + "/nginx.conf");
    WriteNginxConfigStart(config, d);
    config << "  server { listen 127.0.0.1:" << port_ << "; root " << d
           << "/www; keepalive_timeout 75s;\n"
           << "    location = /cookie { add_header Set-Cookie \"sesion=abc; path=/\"; return 200 "
              "\"cookie set\"; }\n"
           << "    location = /moved { return 302 /x; }\n"
           << "  }\n"
           << "  server { listen 127.0.0.1:" << shortKeepAlivePort_ << "; root " << d
           << "/www; keepalive_timeout 300ms; }\n"
           << "}\n";
    config.close();
    pid_ = StartNginx(d, d + "/nginx.conf", {port_, shortKeepAlivePort_}, error_);
}

NginxServer::~NginxServer() {
    if (pid_ > 0) StopNginx(pid_);
}

std::string NginxServer::Url(const std::string& target) const {
    return "http://127.0.0.1:" + std::to_string(port_) + target;
}

std::string NginxServer::ShortKeepAliveUrl(const std::string& target) const {
    return "http://127.0.0.1:" + std::to_string(shortKeepAlivePort_) + target;
}

}  // namespace tertulia::test
