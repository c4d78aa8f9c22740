#include "tests/session/service_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace tertulia::testing {

namespace {

std::string Exchange(int port, const std::string& request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot connect to the service");
    }
    for (std::size_t sent = 0; sent < request.size();) {
        const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
    std::string reply;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) reply.append(buffer, n);
    ::close(fd);
    return reply;
}

PostReply Parse(const std::string& reply) {
    PostReply result;
    std::sscanf(reply.c_str(), "HTTP/1.%*d %d", &result.status);
    const auto bodyStart = reply.find("\r\n\r\n");
    if (bodyStart != std::string::npos) result.body = reply.substr(bodyStart + 4);
    return result;
}

}  // namespace

ServiceProcess::ServiceProcess(const std::string& binary, const std::string& extraArguments) {
    char pattern[] = "/tmp/tertulia-service-test-XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error("cannot make a directory");
    directory_ = pattern;
    const std::string portFile = directory_ + "/out";
    // The shell writes the service's output where the test can read the chosen port.
    const std::string command = "exec '" + binary + "' --listen 127.0.0.1:0 --db '" + directory_ +
                                "/service.db' --demo " + extraArguments + " > '" + portFile + "' 2>&1";
    std::vector<char*> argv = {const_cast<char*>("/bin/sh"), const_cast<char*>("-c"),
                               const_cast<char*>(command.c_str()), nullptr};
    pid_t pid = 0;
    if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv.data(), environ) != 0) {
        throw std::runtime_error("cannot start the service");
    }
    pid_ = pid;
    for (int tries = 0; tries < 500 && port_ == 0; ++tries) {
        if (FILE* out = std::fopen(portFile.c_str(), "r")) {
            char line[512];
            while (std::fgets(line, sizeof line, out)) {
                const std::string text = line;
                const auto at = text.find("http://127.0.0.1:");
                if (at != std::string::npos) port_ = std::stoi(text.substr(at + 17));
            }
            std::fclose(out);
        }
        if (port_ == 0) ::usleep(10000);
    }
    if (port_ == 0) throw std::runtime_error("the service did not start");
    url_ = "http://127.0.0.1:" + std::to_string(port_);
}

ServiceProcess::~ServiceProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

PostReply PostForm(int port, const std::string& path, const std::string& form) {
    return Parse(Exchange(port, "POST " + path +
                                    " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                    "Content-Type: application/x-www-form-urlencoded\r\n"
                                    "Content-Length: " +
                                    std::to_string(form.size()) + "\r\nConnection: close\r\n\r\n" +
                                    form));
}

PostReply GetPath(int port, const std::string& path) {
    return Parse(Exchange(
        port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"));
}

std::string JsonMember(const std::string& json, const std::string& name) {
    const std::string key = "\"" + name + "\":";
    const auto at = json.find(key);
    if (at == std::string::npos) return "";
    auto begin = at + key.size();
    if (json[begin] == '"') {
        const auto end = json.find('"', begin + 1);
        return json.substr(begin + 1, end - begin - 1);
    }
    auto end = json.find_first_of(",}", begin);
    return json.substr(begin, end - begin);
}

}  // namespace tertulia::testing
