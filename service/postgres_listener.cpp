#include "service/postgres_listener.h"

#include <libpq-fe.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>

#include "service/service_log.h"

namespace tertulia {

PostgresListener::PostgresListener(std::string uri, ChangeWatcher watcher)
    : uri_(std::move(uri)),
      watcher_(std::move(watcher)),
      stopFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    thread_ = std::thread([this] { Run(); });
}

PostgresListener::~PostgresListener() {
    stopping_ = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(stopFd_, &one, sizeof one);
    thread_.join();
    ::close(stopFd_);
}

bool PostgresListener::Wait(int socket, short events, int milliseconds) {
    pollfd ready[2] = {{stopFd_, POLLIN, 0}, {socket, events, 0}};
    for (;;) {
        const int count = ::poll(ready, socket < 0 ? 1 : 2, milliseconds);
        if (count < 0 && errno == EINTR) continue;
        if (stopping_ || count <= 0) return false;
        return ready[1].revents != 0;
    }
}

void PostgresListener::Run() {
    bool again = false;
    while (!stopping_) {
        Listen(again);
        again = true;
        Wait(-1, 0, 1000);
    }
}

void PostgresListener::Listen(bool again) {
    // Keepalives find a server that vanished; the URI's own settings win.
    const char* const keywords[] = {"keepalives",
                                    "keepalives_idle",
                                    "keepalives_interval",
                                    "keepalives_count",
                                    "application_name",
                                    "dbname",
                                    nullptr};
    const char* const values[] = {"1", "30", "10", "3", "tertulia-eventos", uri_.c_str(), nullptr};
    const std::unique_ptr<PGconn, decltype(&PQfinish)> connection(
        PQconnectStartParams(keywords, values, 1), &PQfinish);
    if (!connection) return;
    PGconn* pg = connection.get();
    PostgresPollingStatusType polling = PGRES_POLLING_WRITING;
    while (PQstatus(pg) != CONNECTION_BAD && polling != PGRES_POLLING_OK &&
           polling != PGRES_POLLING_FAILED) {
        const short wanted = polling == PGRES_POLLING_READING ? POLLIN : POLLOUT;
        if (!Wait(PQsocket(pg), wanted, 10000)) return;
        polling = PQconnectPoll(pg);
    }
    if (polling != PGRES_POLLING_OK) return;
    // The server's word on a cut connection would go to standard error: the log line below
    // says it.
    PQsetNoticeProcessor(
        pg, [](void*, const char*) {}, nullptr);
    const std::string listen = std::string("LISTEN ") + kChangesChannel;
    if (!PQsendQuery(pg, listen.c_str())) return;
    bool listening = false;
    while (!stopping_) {
        if (!PQisBusy(pg)) {
            while (PGresult* result = PQgetResult(pg)) {
                listening = PQresultStatus(result) == PGRES_COMMAND_OK;
                PQclear(result);
            }
            if (!listening) return;
            if (again) {
                // Whatever was announced while no one listened is unknown.
                LogLine(LogPriority::Info, "las notificaciones de PostgreSQL vuelven a escucharse");
                if (watcher_.unknown) watcher_.unknown();
                again = false;
            }
        }
        while (PGnotify* notify = PQnotifies(pg)) {
            const std::string change = notify->extra;
            PQfreemem(notify);
            if (watcher_.changed) watcher_.changed(change);
        }
        if (!Wait(PQsocket(pg), POLLIN, -1)) return;
        if (!PQconsumeInput(pg) || PQstatus(pg) != CONNECTION_OK) {
            LogLine(LogPriority::Warning,
                    "se ha perdido la conexión que escucha las notificaciones de PostgreSQL");
            return;
        }
    }
}

}  // namespace tertulia
