#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "service/http_server.h"

namespace tertulia {

// The access log: a line per finished request in the common log format with the time taken,
// to standard output or appended to a file. A log rotation renames the file and asks for
// Reopen, which opens the name again (a new file) and closes the renamed one.
class AccessLog {
  public:
    // `destination` is a file's name, or "-" for standard output. Clients behind
    // `trustedProxies` are logged by the address these forward. Throws when the file cannot be
    // opened for appending.
    AccessLog(const std::string& destination, std::set<std::string> trustedProxies);
    ~AccessLog();
    AccessLog(const AccessLog&) = delete;
    AccessLog& operator=(const AccessLog&) = delete;

    // From any thread.
    void Write(const AccessRecord& record);
    // Opens the file again by its name; keeps writing to the one open when that fails. Does
    // nothing for standard output. From any thread.
    void Reopen();

  private:
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    const std::string path_;  // empty for standard output
    const std::set<std::string> trustedProxies_;
    std::mutex mutex_;
    std::unique_ptr<std::FILE, Closer> file_;  // none for standard output
};

// The target as the access log shows it: the values of passwords, session ids, tokens and
// lines are left out, and bytes that could disturb a terminal or a log reader are escaped.
std::string LoggedTarget(std::string_view target);

}  // namespace tertulia
