#pragma once

#include <string>

namespace tertulia::testing {

// The real stand-in service, started as its own process on a free loopback port with a new
// database in a directory of its own; stopped and removed with this object.
class ServiceProcess {
  public:
    // `extraArguments` are added to the command line (for example the update offer).
    explicit ServiceProcess(const std::string& binary, const std::string& extraArguments = "");
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    const std::string& Url() const { return url_; }  // "http://127.0.0.1:PORT"
    int Port() const { return port_; }
    const std::string& Directory() const { return directory_; }

  private:
    std::string directory_;
    std::string url_;
    int port_ = 0;
    int pid_ = -1;
};

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

}  // namespace tertulia::testing
