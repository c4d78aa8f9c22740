#include "tests/support/service_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "base/md5.h"

extern char** environ;

namespace tertulia::testing {

namespace {

// Starts `arguments` (the program first, looked up in PATH without a "/") with its standard
// error appended to `errors` (empty: ours) and our environment with `environment` set over it;
// `plumb` adds the other redirections. Its pid, or -1.
template <typename Plumbing>
pid_t Spawn(std::vector<std::string> arguments, const std::string& errors, Plumbing plumb,
            std::vector<std::string> environment = {}) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view name(*entry, std::strcspn(*entry, "="));
        const bool replaced =
            std::any_of(environment.begin(), environment.end(), [&](const std::string& set) {
                return set.starts_with(name) && set.size() > name.size() && set[name.size()] == '=';
            });
        if (!replaced) envp.push_back(*entry);
    }
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    plumb(actions);
    if (!errors.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0600);
    }
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
}

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

ServiceProcess::ServiceProcess(Options options) {
    std::vector<std::string> arguments = {
        TERTULIA_SERVICE_BINARY, "--listen",
        (options.listen.find(':') != std::string::npos ? "[" + options.listen + "]"
                                                       : options.listen) +
            ":0",
        "--db", options.database.empty() ? directory_.path() + "/service.db" : options.database};
    if (options.demo) arguments.push_back("--demo");
    arguments.insert(arguments.end(), options.arguments.begin(), options.arguments.end());
    arguments.insert(arguments.begin(), options.prefix.begin(), options.prefix.end());

    // Its output comes through a pipe, so that the address is read only once its line is whole.
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    pid_ = Spawn(
        arguments, options.errors,
        [&](posix_spawn_file_actions_t& actions) {
            posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
        },
        options.environment);
    ::close(pipeEnds[1]);
    if (pid_ < 0) {
        ::close(pipeEnds[0]);
        throw std::runtime_error("cannot start " + arguments[0]);
    }

    const std::string marker = "escucha en http://";
    char buffer[512];
    while (output_.find(marker) == std::string::npos ||
           output_.find('\n', output_.find(marker)) == std::string::npos) {
        const ssize_t count = ::read(pipeEnds[0], buffer, sizeof buffer);
        if (count <= 0) break;
        output_.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(pipeEnds[0]);
    const std::size_t at = output_.find(marker);
    if (at == std::string::npos) {
        Kill();
        throw std::runtime_error("the service did not start: " + output_);
    }
    const std::string shown = output_.substr(at, output_.find("/\n", at) - at);
    port_ = std::stoi(shown.substr(shown.rfind(':') + 1));
    url_ = "http://127.0.0.1:" + std::to_string(port_);
}

ServiceProcess::~ServiceProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
}

void ServiceProcess::Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

int ServiceProcess::MetricsPort() const {
    const std::size_t page = output_.find("/metrics\n");
    if (page == std::string::npos) throw std::runtime_error("no metrics page: " + output_);
    return std::stoi(output_.substr(output_.rfind(':', page) + 1));
}

std::string ServiceProcess::Body(const std::string& target) const {
    return GetPath(port_, target).body;
}

std::string ServiceProcess::LoginReply(const std::string& company,
                                       const std::string& password) const {
    return Body("/tertulia.php?accion=do_login&idempresa=" + company +
                "&contrasena=" + Md5TextOfString(password));
}

std::string ServiceProcess::Login(const std::string& company, const std::string& password) const {
    const std::string reply = LoginReply(company, password);
    if (!reply.starts_with("OK=")) throw std::runtime_error("login refused: " + reply);
    return reply.substr(3);
}

int RunService(std::vector<std::string> arguments, const std::string& input,
               const std::string& errors, const std::vector<std::string>& prefix) {
    arguments.insert(arguments.begin(), TERTULIA_SERVICE_BINARY);
    arguments.insert(arguments.begin(), prefix.begin(), prefix.end());
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return -1;
    const pid_t pid = Spawn(arguments, errors, [&](posix_spawn_file_actions_t& actions) {
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[0], STDIN_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    });
    ::close(pipeEnds[0]);
    if (pid > 0 && !input.empty()) {
        [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], input.data(), input.size());
    }
    ::close(pipeEnds[1]);
    if (pid < 0) return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

VisitorConversation OpenConversation(int port, const std::string& name,
                                     const std::string& company) {
    const PostReply opened =
        PostForm(port, "/api/conversaciones", "empresa=" + company + "&nombre=" + name);
    if (opened.status != 201) {
        throw std::runtime_error("conversation refused (" + std::to_string(opened.status) +
                                 "): " + opened.body);
    }
    return {JsonMember(opened.body, "id"), JsonMember(opened.body, "token")};
}

bool VisitorWrites(int port, const VisitorConversation& conversation, const std::string& text) {
    return PostForm(port, "/api/conversaciones/" + conversation.id + "/mensajes",
                    "token=" + conversation.token + "&texto=" + text)
               .status == 200;
}

}  // namespace tertulia::testing
