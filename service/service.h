#pragma once

#include <memory>
#include <optional>
#include <string>

#include "service/storage.h"
#include "service/update_api.h"

namespace httplib {
class Server;
}

namespace tertulia {

struct ServiceConfig {
    std::string databasePath;
    std::optional<UpdateOffer> update;
    Clock clock;  // the system clock when empty
};

// The stand-in chat service: the service script, the update script and its download, the
// visitor page and the visitors' JSON API, served by a pool of threads over one database.
class Service {
  public:
    explicit Service(ServiceConfig config);
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    Storage& storage() { return *storage_; }

    // Binds the listening socket; port 0 picks a free one. Returns the port, or throws.
    int Bind(const std::string& host, int port);
    // Serves until Stop; returns false when serving failed.
    bool Serve();
    // True once Serve has started accepting connections and until it stops.
    bool Serving() const;
    // Ends a running Serve; safe from any thread. A Stop before Serving has no effect.
    void Stop();

  private:
    void Route();

    std::unique_ptr<Storage> storage_;
    std::optional<UpdateOffer> update_;
    std::unique_ptr<httplib::Server> server_;
    std::string listenOrigin_;
    int listenSocket_ = -1;
};

}  // namespace tertulia
