#pragma once

#include <string>
#include <vector>

namespace tertulia::testing {

// The real stand-in service, tertulia-service, started as its own process on a free loopback
// port: the one way tests start it. Stopped with this object.
class ServiceProcess {
  public:
    struct Options {
        // Its database; empty: a new one in a directory of its own, removed with this object.
        std::string database;
        // Added to the command line (for example the update offer).
        std::vector<std::string> arguments;
    };

    explicit ServiceProcess(const std::string& binary) : ServiceProcess(binary, Options{}) {}
    ServiceProcess(const std::string& binary, Options options);
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // Ends it at once, as a crash would.
    void Kill();

    const std::string& Url() const { return url_; }  // "http://127.0.0.1:PORT"
    int Port() const { return port_; }
    // A directory of its own, where its new database lies; empty when it was given one.
    const std::string& Directory() const { return directory_; }
    // What it printed up to the line with its address.
    const std::string& Output() const { return output_; }

  private:
    std::string directory_;
    std::string url_;
    std::string output_;
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
