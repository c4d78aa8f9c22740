#include "tests/support/postgres_server.h"

#include <libpq-fe.h>

#include <signal.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "tests/support/whole_file.h"

namespace tertulia::test {

namespace {

namespace fs = std::filesystem;

// The socket's name ends in the port; the socket's directory is ours alone.
constexpr const char* kPort = "5432";

// The bin folder of the newest PostgreSQL installed the Debian way; empty when there is none.
std::string FindPostgresBin() {
    std::error_code error;
    std::string best;
    int bestVersion = -1;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", error)) {
        const fs::path bin = entry.path() / "bin";
        if (!fs::exists(bin / "pg_ctl", error) || !fs::exists(bin / "initdb", error)) continue;
        int version = 0;
        try {
            version = std::stoi(entry.path().filename().string());
        } catch (const std::exception&) {
            continue;
        }
        if (version > bestVersion) {
            bestVersion = version;
            best = bin.string();
        }
    }
    return best;
}

}  // namespace

PostgresServer::PostgresServer() {
    try {
        Start();
    } catch (const std::exception& failure) {
        error_ = failure.what();
    }
}

void PostgresServer::Start() {
    bin_ = FindPostgresBin();
    if (bin_.empty()) {
        throw std::runtime_error("PostgreSQL is not installed (Debian package postgresql)");
    }
    std::string why;
    if (!UnprivilegedUser(user_, why)) throw std::runtime_error(why);
    GiveDirectoryTo(directory_.path(), user_);
    const std::string& directory = directory_.path();
    const std::string data = directory + "/data";
    const std::string initLog = directory + "/initdb.log";
    // No durability is asked of a throwaway cluster, so it skips every fsync.
    if (RunAs(user_,
              {bin_ + "/initdb", "-D", data, "-U", "tertulia", "--auth=trust", "--encoding=UTF8",
               "--locale=C", "--no-sync", "--no-instructions"},
              initLog) != 0) {
        throw std::runtime_error("initdb failed: " + testing::ReadWholeFile(initLog));
    }
    StartServer();
}

void PostgresServer::StartServer() {
    const std::string& directory = directory_.path();
    const std::string data = directory + "/data";
    const std::string serverLog = directory + "/server.log";
    const std::string serverOptions = "-k " + directory + " -p " + kPort +
                                      " -c listen_addresses='' -c fsync=off"
                                      " -c full_page_writes=off";
    if (RunAs(user_,
              {bin_ + "/pg_ctl", "-D", data, "-l", serverLog, "-o", serverOptions, "-w", "-t", "60",
               "start"},
              directory + "/pg_ctl.log") != 0) {
        // A server that came up too late for pg_ctl's wait must not outlive the test.
        RunAs(user_, {bin_ + "/pg_ctl", "-D", data, "-m", "immediate", "-w", "stop"},
              directory + "/pg_ctl.log");
        throw std::runtime_error("pg_ctl could not start the server: " +
                                 testing::ReadWholeFile(directory + "/pg_ctl.log") +
                                 testing::ReadWholeFile(serverLog));
    }
    running_ = true;
}

PostgresServer::~PostgresServer() {
    if (!paused_.empty()) Resume();
    if (running_) {
        RunAs(user_,
              {bin_ + "/pg_ctl", "-D", directory_.path() + "/data", "-m", "fast", "-w", "stop"},
              directory_.path() + "/pg_ctl.log");
    }
}

std::string PostgresServer::Uri(const std::string& database) const {
    return "postgresql://tertulia@/" + database + "?host=" + directory_.path() + "&port=" + kPort;
}

std::string PostgresServer::CreateDatabase(const std::string& name) {
    const std::unique_ptr<PGconn, decltype(&PQfinish)> connection(PQconnectdb(Uri().c_str()),
                                                                  &PQfinish);
    if (PQstatus(connection.get()) != CONNECTION_OK) {
        throw std::runtime_error(std::string("cannot connect: ") +
                                 PQerrorMessage(connection.get()));
    }
    char* quoted = PQescapeIdentifier(connection.get(), name.c_str(), name.size());
    if (quoted == nullptr) throw std::runtime_error(PQerrorMessage(connection.get()));
    const std::string statement = std::string("CREATE DATABASE ") + quoted;
    PQfreemem(quoted);
    const std::unique_ptr<PGresult, decltype(&PQclear)> result(
        PQexec(connection.get(), statement.c_str()), &PQclear);
    if (PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
        throw std::runtime_error("cannot create database " + name + ": " +
                                 PQerrorMessage(connection.get()));
    }
    return Uri(name);
}

}  // namespace tertulia::test

namespace tertulia::test {

namespace {

// The processes whose parent is `parent`, from /proc.
std::vector<pid_t> ChildrenOf(pid_t parent) {
    std::vector<pid_t> children;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        // "pid (command) state ppid ...": the command may hold blanks and parentheses.
        const std::string stat = testing::ReadWholeFile(entry.path().string() + "/stat");
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 1));
        std::string state;
        pid_t ppid = 0;
        if (rest >> state >> ppid && ppid == parent) children.push_back(std::stoi(name));
    }
    return children;
}

}  // namespace

void PostgresServer::Pause() {
    std::istringstream lock(testing::ReadWholeFile(directory_.path() + "/data/postmaster.pid"));
    pid_t postmaster = 0;
    if (!(lock >> postmaster) || postmaster <= 0) {
        throw std::runtime_error("no postmaster.pid: the server is not running");
    }
    // The postmaster first, so that it starts no process after the list is made.
    ::kill(postmaster, SIGSTOP);
    paused_ = ChildrenOf(postmaster);
    paused_.push_back(postmaster);
    for (const pid_t process : paused_) ::kill(process, SIGSTOP);
}

void PostgresServer::Resume() {
    for (const pid_t process : paused_) ::kill(process, SIGCONT);
    paused_.clear();
}

void PostgresServer::Stop() {
    const std::string& directory = directory_.path();
    if (RunAs(user_,
              {bin_ + "/pg_ctl", "-D", directory + "/data", "-m", "fast", "-w", "-t", "60", "stop"},
              directory + "/pg_ctl.log") != 0) {
        throw std::runtime_error("pg_ctl could not stop the server: " +
                                 testing::ReadWholeFile(directory + "/pg_ctl.log"));
    }
    running_ = false;
}

}  // namespace tertulia::test
