#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "running_service.h"

extern char** environ;

namespace tertulia::testing {

// tertulia-service started as a child process on a free loopback port, with its standard error
// kept in `errorFile`.
class ChildService {
  public:
    ChildService(const std::string& database, const std::vector<std::string>& options,
                 const std::string& errorFile = "/dev/null") {
        int pipeEnds[2];
        if (pipe(pipeEnds) != 0) throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0600);
        std::vector<std::string> arguments = {TERTULIA_SERVICE_BINARY, "--listen", "127.0.0.1:0",
                                              "--db", database};
        arguments.insert(arguments.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(pipeEnds[1]);
        if (spawned != 0) throw std::runtime_error("cannot start " + arguments[0]);

        // The last line it prints at start names the address.
        const std::string marker = "escucha en http://127.0.0.1:";
        char buffer[512];
        while (output_.find(marker) == std::string::npos ||
               output_.find('\n', output_.find(marker)) == std::string::npos) {
            const ssize_t count = read(pipeEnds[0], buffer, sizeof buffer);
            if (count <= 0) break;
            output_.append(buffer, count);
        }
        close(pipeEnds[0]);
        const std::size_t at = output_.find(marker);
        if (at == std::string::npos) throw std::runtime_error("no address in: " + output_);
        port_ = std::stoi(output_.substr(at + marker.size()));
    }
    ~ChildService() {
        if (pid_ > 0) Kill();
    }

    void Kill() {
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }

    int port() const { return port_; }
    const std::string& output() const { return output_; }

    std::unique_ptr<httplib::Client> Client() const { return LoopbackClient(port_); }
    std::string Body(const std::string& target) const {
        const auto reply = Client()->Get(target.c_str());
        return reply ? reply->body : "(no reply)";
    }

  private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string output_;
};

// Runs tertulia-service with these arguments to its end, with `input` on its standard input;
// returns its exit status. `prefix` goes before the program (for example a command that runs
// it with fewer privileges).
inline int RunService(std::vector<std::string> arguments, const std::string& input = "",
                      const std::string& errorFile = "/dev/null",
                      const std::vector<std::string>& prefix = {}) {
    arguments.insert(arguments.begin(), TERTULIA_SERVICE_BINARY);
    arguments.insert(arguments.begin(), prefix.begin(), prefix.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[0], STDIN_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[0]);
    if (spawned == 0 && !input.empty()) {
        [[maybe_unused]] const ssize_t written = write(pipeEnds[1], input.data(), input.size());
    }
    close(pipeEnds[1]);
    if (spawned != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

}  // namespace tertulia::testing
