#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "service/sql_database.h"

namespace tertulia {

// The notifications channel that writes announce their changes on.
inline constexpr const char* kChangesChannel = "tertulia_eventos";

// One connection of its own that only LISTENs, on a thread of its own, and hands each
// notification to the watcher. When the connection is lost it is made again, a second later
// and on until it works; then the watcher hears that changes may have been missed meanwhile.
// The connection's application_name is "tertulia-eventos".
class PostgresListener {
  public:
    PostgresListener(std::string uri, ChangeWatcher watcher);
    ~PostgresListener();
    PostgresListener(const PostgresListener&) = delete;
    PostgresListener& operator=(const PostgresListener&) = delete;

  private:
    void Run();
    // Connects and listens until the connection is lost or the listener stops.
    void Listen(bool again);
    // Waits until the socket reads or the listener stops; false when it stops or the time
    // (milliseconds, -1 for none) passes.
    bool Wait(int socket, short events, int milliseconds);

    std::string uri_;
    ChangeWatcher watcher_;
    int stopFd_ = -1;  // an eventfd, readable once the listener stops
    std::atomic<bool> stopping_ = false;
    std::thread thread_;
};

}  // namespace tertulia
