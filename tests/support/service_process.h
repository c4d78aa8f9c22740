#pragma once

#include <string>
#include <vector>

#include "tests/support/temporary_directory.h"

namespace tertulia::testing {

// The real stand-in service, tertulia-service, started as its own process on a free loopback
// port: the one way tests start it. Stopped with this object.
class ServiceProcess {
  public:
    struct Options {
        // Its database: a file path or a PostgreSQL URI; empty: a new one in Directory().
        std::string database{};
        // Added to the command line (for example the update offer or the limits).
        std::vector<std::string> arguments{};
        // Started with --demo, which makes the demo company where the database lacks it.
        bool demo = true;
        // Where its standard error is appended; empty: this process's.
        std::string errors{};
        // The address it listens on, its port chosen by it ("::" takes IPv4 clients too).
        std::string listen = "127.0.0.1";
        // "NAME=VALUE" entries set in its environment, over this process's own.
        std::vector<std::string> environment{};
        // A command that runs it in the same process (for example prlimit with its limits).
        std::vector<std::string> prefix{};
    };

    ServiceProcess() : ServiceProcess(Options{}) {}
    explicit ServiceProcess(Options options);
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // Ends it at once, as a crash would.
    void Kill();

    const std::string& Url() const { return url_; }  // "http://127.0.0.1:PORT"
    int Port() const { return port_; }
    int Pid() const { return pid_; }
    // A directory of its own, removed with this object; its database lies there unless given.
    const std::string& Directory() const { return directory_.path(); }
    // What it printed up to the line with its address.
    const std::string& Output() const { return output_; }
    // The port of its metrics page (--metrics-listen), as it printed it; throws without one.
    int MetricsPort() const;
    // The body of a GET of `target`, whatever the status.
    std::string Body(const std::string& target) const;
    // Its reply to an operator's login, with the password's digest as the console sends it.
    std::string LoginReply(const std::string& company = "demo",
                           const std::string& password = "demo") const;
    // A new operator session; throws when the login is refused.
    std::string Login(const std::string& company = "demo",
                      const std::string& password = "demo") const;

  private:
    TemporaryDirectory directory_{"tertulia-service"};
    std::string url_;
    std::string output_;
    int port_ = 0;
    int pid_ = -1;
};

// Runs tertulia-service with `arguments` to its end (a command such as add-company), with
// `input` on its standard input and its standard error appended to `errors`; its exit status,
// or -1. `prefix` goes before the program (for example a command that drops privileges).
int RunService(std::vector<std::string> arguments, const std::string& input = "",
               const std::string& errors = "/dev/null",
               const std::vector<std::string>& prefix = {});

// A POST of a form to the service on the loopback port, as a visitor's browser sends it; the
// reply's status and body.
struct PostReply {
    int status = 0;
    std::string body;
};
PostReply PostForm(int port, const std::string& path, const std::string& form);

// The plain GET of a visitor's page, for the JSON API.
PostReply GetPath(int port, const std::string& path);

// The value of a JSON member holding a string or a number, in a flat object; empty if missing.
std::string JsonMember(const std::string& json, const std::string& name);

// A visitor's new conversation, as the service names it to the visitor's page.
struct VisitorConversation {
    std::string id;
    std::string token;
};
// Opens one for the visitor `name` (URL-encoded, as the form carries it) at `company`; throws
// when the service refuses it.
VisitorConversation OpenConversation(int port, const std::string& name,
                                     const std::string& company = "demo");
// The visitor writes `text` (URL-encoded) to the conversation; whether the service took it.
bool VisitorWrites(int port, const VisitorConversation& conversation, const std::string& text);

}  // namespace tertulia::testing
