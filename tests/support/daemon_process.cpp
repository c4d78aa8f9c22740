#include "tests/support/daemon_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace tertulia::test {

namespace {

// Between fork and exec only async-signal-safe calls: everything is prepared before the fork.
pid_t Spawn(const DaemonUser& user, const std::vector<std::string>& argv,
            const std::string& logFile) {
    std::vector<char*> args;
    for (const std::string& argument : argv) args.push_back(const_cast<char*>(argument.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    const int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (log < 0 || null < 0) ::_exit(126);
    ::dup2(null, 0);
    ::dup2(log, 1);
    ::dup2(log, 2);
    if (user.switchUser) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(user.gid) != 0 || ::setuid(user.uid) != 0) {
            ::_exit(126);
        }
    }
    ::execv(args[0], args.data());
    ::_exit(127);
}

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

}  // namespace

bool UnprivilegedUser(DaemonUser& user, std::string& error) {
    user = DaemonUser{::geteuid(), ::getegid(), false};
    if (user.uid != 0) return true;
    const passwd* nobody = ::getpwnam("nobody");
    if (nobody == nullptr) {
        error = "running as root and there is no user \"nobody\" to run the daemon as";
        return false;
    }
    user = DaemonUser{nobody->pw_uid, nobody->pw_gid, true};
    return true;
}

int RunAs(const DaemonUser& user, const std::vector<std::string>& argv,
          const std::string& logFile) {
    const pid_t pid = Spawn(user, argv, logFile);
    if (pid < 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

pid_t StartChild(const std::vector<std::string>& argv, const std::string& logFile) {
    return Spawn(DaemonUser{}, argv, logFile);
}

void GiveDirectoryTo(const std::string& path, const DaemonUser& user) {
    if (user.switchUser && ::chown(path.c_str(), user.uid, user.gid) != 0) {
        throw std::runtime_error("cannot hand " + path + " to the daemon's user");
    }
}

int FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool LoopbackAccepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(port);
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

}  // namespace tertulia::test
