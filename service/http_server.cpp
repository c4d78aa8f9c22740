#include "service/http_server.h"

#include <fcntl.h>
#include <malloc.h>
#include <microhttpd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <unordered_set>

#include "service/address_counts.h"
#include "service/client_address.h"
#include "service/http_acceptor.h"
#include "service/http_listen.h"
#include "service/http_reply_head.h"
#include "service/http_request_checks.h"
#include "service/service_log.h"
#include "service/stream_connections.h"
#include "service/whole_response.h"
#include "service/worker_pool.h"

namespace tertulia {

namespace {

using SteadyClock = std::chrono::steady_clock;

// How often the server looks for connections that have taken too long.
constexpr std::chrono::milliseconds kWatchPeriod{250};
// The kernel's send buffer of a stream's connection: a client that stops reading holds little.
constexpr int kStreamSendBuffer = 16 * 1024;
// When a client beyond its address's limit may try again.
constexpr const char* kRetryAfterLimit = "10";

// How long a connection beyond the cap may take over its request head: it holds a descriptor
// of the reserve meanwhile.
constexpr std::chrono::seconds kSpareHead{1};

// What the server keeps of one TCP connection.
struct Link {
    int fd = -1;
    std::string address;
    std::string key;                // what the per-address limit counts it by
    SteadyClock::time_point since;  // when it started waiting for a request head
    // While a request's head or body is coming in, it must be complete by the deadline.
    bool timed = true;
    SteadyClock::time_point deadline;
    bool cut = false;
    // Beyond its address's limit: its request is answered 429, and it closes.
    bool over = false;
    std::string target;  // of the request whose head is coming in
    bool spare = false;  // came beyond the cap, into the reserve
    // Its socket went on to serve a stream outside the library, which counts it from then on.
    bool handedOver = false;
};

// One request from its complete head to its reply.
struct Exchange {
    HttpRequest request;
    bool http10 = false;  // an HTTP/1.0 request, whose reply has no chunks
    std::size_t bodyLimit = 0;
    bool bodyTooLarge = false;
    bool dispatched = false;
    std::optional<HttpReply> reply;
    int status = 0;
    std::size_t bytes = 0;
    bool handedOver = false;  // a stream's, logged when the stream ends
    SteadyClock::time_point start = SteadyClock::now();
};

}  // namespace

struct HttpServer::Impl {
    HttpLimits limits;
    HttpRoutes routes;
    int listenSocket = -1;

    WorkerPool workers;
    std::atomic<bool> serving = false;
    std::mutex stopMutex;
    std::condition_variable stopChanged;
    bool stopRequested = false;

    std::mutex linksMutex;
    // The links with a deadline, which the watch looks over several times a second: held
    // streams are many and have none, and are not walked through under the lock each time.
    std::unordered_set<Link*> timedLinks;
    AddressCounts perAddress;
    unsigned cap = 0;       // connections held at most, `limits.connections` or fewer
    unsigned held = 0;      // links that are not spare, streams handed over included
    unsigned spareCap = 0;  // links beyond the cap at most, for their refusals
    unsigned spares = 0;
    AddressCounts overLimit;  // awaiting their 429
    std::atomic<std::size_t> unsentBytes = 0;

    // Under linksMutex.
    void SetTimed(Link& link, bool timed) {
        link.timed = timed;
        if (timed) {
            timedLinks.insert(&link);
        } else {
            timedLinks.erase(&link);
        }
    }

    unsigned incoming = 0;  // accepted, not yet the library's (under linksMutex)
    std::unique_ptr<Acceptor> acceptor;
    // The streams' connections once their replies have started, and the library they return
    // to when a stream ends whole.
    std::unique_ptr<StreamConnections> streamConnections;
    std::mutex daemonMutex;  // held while a stream's connection goes back to the library
    MHD_Daemon* daemon = nullptr;
    bool takesBack = false;  // under daemonMutex

    Impl(HttpLimits limits, HttpRoutes routes)
        : limits(std::move(limits)), routes(std::move(routes)), workers(this->limits.workers) {}

    static Link* LinkOf(MHD_Connection* connection) {
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        return info ? static_cast<Link*>(info->socket_context) : nullptr;
    }

    void Log(AccessRecord record, SteadyClock::time_point start) {
        if (!routes.log) return;
        record.milliseconds =
            std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
        routes.log(record);
    }

    // A request that the server itself turned away before any handler saw it.
    void LogUnanswered(Link& link) {
        if (link.target.empty()) return;
        Log({link.address, "", "-", link.target, 0, 0, 0}, link.since);
        link.target.clear();
    }

    bool Limited(const std::string& address) const {
        return limits.connectionsPerAddress != 0 && !limits.unlimitedAddresses.contains(address);
    }

    // Connections beyond an address's limit are taken to answer their request 429, which tells
    // a browser to stop; as many again as the limit, and the rest are closed unanswered.
    bool Admits(const sockaddr* address) {
        const std::string text = AddressText(address);
        if (!Limited(text)) return true;
        const std::string key = LimitKey(text);
        std::lock_guard lock(linksMutex);
        return perAddress.Of(key) < limits.connectionsPerAddress ||
               overLimit.Of(key) < limits.connectionsPerAddress;
    }

    // Connections held, streams served outside the library included, stop at the cap and the
    // spare places beyond it for refusals; the rest wait to be accepted.
    bool Room() {
        std::lock_guard lock(linksMutex);
        return held + spares + incoming < cap + spareCap;
    }

    // Counted as incoming until the library has started it.
    void Take(int fd, const sockaddr* address, socklen_t size) {
        if (!Admits(address)) {
            ::close(fd);
            return;
        }
        {
            std::lock_guard lock(linksMutex);
            ++incoming;
        }
        if (MHD_add_connection(daemon, fd, address, size) != MHD_YES) {
            std::lock_guard lock(linksMutex);
            --incoming;
            if (acceptor) acceptor->Freed();
        }
    }

    static void ConnectionEvent(void* cls, MHD_Connection* connection, void** context,
                                MHD_ConnectionNotificationCode code) {
        auto& self = *static_cast<Impl*>(cls);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            auto link = std::make_unique<Link>();
            if (const auto* fd =
                    MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD)) {
                link->fd = fd->connect_fd;
            }
            if (const auto* address =
                    MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS)) {
                link->address = AddressText(address->client_addr);
            }
            link->key = LimitKey(link->address);
            link->since = SteadyClock::now();
            std::lock_guard lock(self.linksMutex);
            if (self.incoming > 0) --self.incoming;
            link->spare = self.held >= self.cap;
            ++(link->spare ? self.spares : self.held);
            link->deadline =
                link->since +
                (link->spare ? kSpareHead : std::chrono::seconds(self.limits.headSeconds));
            link->over = self.Limited(link->address) &&
                         self.perAddress.Of(link->key) >= self.limits.connectionsPerAddress;
            (link->over ? self.overLimit : self.perAddress).Add(link->key);
            self.SetTimed(*link, true);
            *context = link.release();
            return;
        }
        std::unique_ptr<Link> link(static_cast<Link*>(*context));
        *context = nullptr;
        if (!link) return;
        {
            std::lock_guard lock(self.linksMutex);
            self.timedLinks.erase(link.get());
            if (!link->handedOver) self.ReleaseLocked(*link);
        }
        self.LogUnanswered(*link);
    }

    // The link's place in the counts.
    void ReleaseLocked(const Link& link) {
        --(link.spare ? spares : held);
        (link.over ? overLimit : perAddress).Remove(link.key);
        if (acceptor) acceptor->Freed();
    }

    static void* RequestLine(void*, const char* uri, MHD_Connection* connection) {
        if (Link* link = LinkOf(connection)) link->target = uri;
        return nullptr;
    }

    static void Completed(void* cls, MHD_Connection* connection, void** context,
                          MHD_RequestTerminationCode) {
        auto& self = *static_cast<Impl*>(cls);
        std::unique_ptr<Exchange> exchange(static_cast<Exchange*>(*context));
        *context = nullptr;
        Link* link = LinkOf(connection);
        if (exchange && exchange->handedOver) return;
        if (exchange) {
            const HttpRequest& request = exchange->request;
            self.Log({request.peer, request.Header("x-forwarded-for"), request.method,
                      request.target, exchange->status, exchange->bytes, 0},
                     exchange->start);
        } else if (link) {
            self.LogUnanswered(*link);
        }
        if (link) {
            std::lock_guard lock(self.linksMutex);
            link->since = SteadyClock::now();
            link->deadline = link->since + std::chrono::seconds(self.limits.headSeconds);
            self.SetTimed(*link, true);
        }
    }

    static MHD_Result CollectHeader(void* cls, MHD_ValueKind, const char* name, const char* value) {
        auto& headers = *static_cast<std::vector<std::pair<std::string, std::string>>*>(cls);
        headers.emplace_back(LowerCase(name ? name : ""), value ? value : "");
        return MHD_YES;
    }

    // A stream's connection leaves the library, which forgets it and closes only its own
    // descriptor (in turbo mode it shuts no socket down); its head and body are written by
    // the stream connections, and it still counts against the cap and its address.
    MHD_Result HandOver(MHD_Connection* connection, Exchange& exchange, HttpReply reply) {
        Link* link = LinkOf(connection);
        const int fd = link ? ::fcntl(link->fd, F_DUPFD_CLOEXEC, 0) : -1;
        if (fd < 0) return Refuse(connection, exchange, MHD_HTTP_SERVICE_UNAVAILABLE);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kStreamSendBuffer, sizeof kStreamSendBuffer);
        const HttpRequest& request = exchange.request;
        const bool closing = exchange.http10 || ConnectionCloses(request.Header("connection"));
        StreamConnections::Handover handover;
        handover.fd = fd;
        handover.stream = std::move(reply.stream);
        handover.chunked = !exchange.http10;
        handover.bodyless = request.method == "HEAD";
        handover.head = ReplyHead(reply.status, reply.headers, handover.chunked, closing);
        if (!closing) handover.reuse = [this](int socket) { TakeBack(socket); };
        AccessRecord record{request.peer,
                            request.Header("x-forwarded-for"),
                            request.method,
                            request.target,
                            reply.status,
                            0,
                            0};
        handover.finished = [this, record, start = exchange.start,
                             counted = *link](std::size_t sent) mutable {
            {
                std::lock_guard lock(linksMutex);
                ReleaseLocked(counted);
            }
            record.bytes = sent;
            Log(std::move(record), start);
        };
        {
            std::lock_guard lock(linksMutex);
            link->handedOver = true;
            SetTimed(*link, false);
        }
        exchange.status = reply.status;
        exchange.handedOver = true;
        if (routes.answered) {
            routes.answered(
                request, reply.status,
                std::chrono::duration<double>(SteadyClock::now() - exchange.start).count());
        }
        streamConnections->Adopt(std::move(handover));
        return MHD_NO;
    }

    // A connection whose stream ended whole goes back to the library for its next request.
    void TakeBack(int fd) {
        sockaddr_storage peer{};
        socklen_t size = sizeof peer;
        std::lock_guard lock(daemonMutex);
        if (!takesBack || ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0) {
            ::close(fd);
            return;
        }
        Take(fd, reinterpret_cast<sockaddr*>(&peer), size);
    }

    MHD_Result Queue(MHD_Connection* connection, Exchange& exchange, HttpReply reply) {
        if (reply.stream) return HandOver(connection, exchange, std::move(reply));
        const WholeResponse made =
            MakeWholeResponse(reply, limits.largeReplyBytes, unsentBytes, limits.unsentReplyBytes);
        if (made.refused) return Refuse(connection, exchange, MHD_HTTP_SERVICE_UNAVAILABLE);
        MHD_Response* response = made.response;
        exchange.bytes = made.bytes;
        if (!response) return MHD_NO;
        // A connection beyond the cap gives its descriptor back to the reserve at once.
        const Link* link = LinkOf(connection);
        if (link && link->spare &&
            std::none_of(reply.headers.begin(), reply.headers.end(),
                         [](const auto& header) { return header.first == "Connection"; })) {
            reply.headers.emplace_back("Connection", "close");
        }
        for (const auto& [name, value] : reply.headers) {
            MHD_add_response_header(response, name.c_str(), value.c_str());
        }
        exchange.status = reply.status;
        if (routes.answered) {
            routes.answered(
                exchange.request, reply.status,
                std::chrono::duration<double>(SteadyClock::now() - exchange.start).count());
        }
        const MHD_Result queued =
            MHD_queue_response(connection, static_cast<unsigned>(reply.status), response);
        MHD_destroy_response(response);
        return queued;
    }

    // Refusals close the connection: what the client sent after the head is not read as a
    // request of its own.
    MHD_Result Refuse(MHD_Connection* connection, Exchange& exchange, int status) {
        HttpReply reply;
        reply.status = status;
        reply.body = "Error " + std::to_string(status) + "\n";
        reply.headers = {{"Content-Type", "text/plain; charset=utf-8"}, {"Connection", "close"}};
        if (status == MHD_HTTP_SERVICE_UNAVAILABLE) reply.headers.emplace_back("Retry-After", "5");
        if (status == MHD_HTTP_TOO_MANY_REQUESTS) {
            reply.headers.emplace_back("Retry-After", kRetryAfterLimit);
        }
        return Queue(connection, exchange, std::move(reply));
    }

    MHD_Result Start(MHD_Connection* connection, const char* url, const char* method,
                     const char* version, void** context) {
        auto exchange = std::make_unique<Exchange>();
        exchange->http10 = version && std::string_view(version) == MHD_HTTP_VERSION_1_0;
        HttpRequest& request = exchange->request;
        request.method = method;
        request.path = url;
        MHD_get_connection_values(connection, MHD_HEADER_KIND, CollectHeader, &request.headers);
        const std::string routeMethod = request.method == "HEAD" ? "GET" : request.method;
        exchange->bodyLimit = routes.bodyLimit(routeMethod, request.path);
        bool over = false;
        if (Link* link = LinkOf(connection)) {
            std::lock_guard lock(linksMutex);
            over = link->over;
            request.target = std::move(link->target);
            request.peer = link->address;
            link->target.clear();
            const bool body =
                request.Header("content-length").find_first_not_of('0') != std::string::npos;
            SetTimed(*link, body);
            if (body) {
                const unsigned kibibytes = static_cast<unsigned>(exchange->bodyLimit / 1024);
                const unsigned seconds =
                    std::max(limits.headSeconds,
                             std::min(limits.headSeconds + kibibytes, limits.bodySeconds));
                link->deadline = link->since + std::chrono::seconds(seconds);
            }
        }
        if (request.target.empty()) request.target = request.path;
        Exchange& started = *exchange;
        *context = exchange.release();
        if (const Link* link = LinkOf(connection);
            link && link->spare && !limits.reservedPaths.contains(request.path)) {
            return Refuse(connection, started, MHD_HTTP_SERVICE_UNAVAILABLE);
        }
        if (over) return Refuse(connection, started, MHD_HTTP_TOO_MANY_REQUESTS);
        if (const int refusal = FramingRefusal(request, started.bodyLimit)) {
            return Refuse(connection, started, refusal);
        }
        return MHD_YES;
    }

    MHD_Result Dispatch(MHD_Connection* connection, Exchange& exchange) {
        exchange.dispatched = true;
        exchange.request.arrived = SteadyClock::now();
        if (Link* link = LinkOf(connection)) {
            std::lock_guard lock(linksMutex);
            SetTimed(*link, false);
        }
        if (routes.answerAtOnce) {
            if (std::optional<HttpReply> reply = routes.answerAtOnce(exchange.request)) {
                return Queue(connection, exchange, std::move(*reply));
            }
        }
        Exchange* target = &exchange;
        auto job = [this, connection, target] {
            try {
                target->reply = routes.answer(target->request);
            } catch (const std::exception&) {
                HttpReply failed;
                failed.status = MHD_HTTP_INTERNAL_SERVER_ERROR;
                failed.body = "Error 500\n";
                failed.headers = {{"Content-Type", "text/plain; charset=utf-8"}};
                target->reply = std::move(failed);
            }
            MHD_resume_connection(connection);
        };
        if (!workers.Submit(job, [connection] { MHD_suspend_connection(connection); })) {
            return Refuse(connection, exchange, MHD_HTTP_SERVICE_UNAVAILABLE);
        }
        return MHD_YES;
    }

    static MHD_Result Handle(void* cls, MHD_Connection* connection, const char* url,
                             const char* method, const char* version, const char* upload,
                             std::size_t* uploadSize, void** context) {
        auto& self = *static_cast<Impl*>(cls);
        auto* exchange = static_cast<Exchange*>(*context);
        if (!exchange) return self.Start(connection, url, method, version, context);
        if (*uploadSize != 0) {
            std::string& body = exchange->request.body;
            if (body.size() + *uploadSize > exchange->bodyLimit) {
                exchange->bodyTooLarge = true;
            } else {
                body.append(upload, *uploadSize);
            }
            *uploadSize = 0;
            return MHD_YES;
        }
        if (exchange->reply) {
            HttpReply reply = std::move(*exchange->reply);
            exchange->reply.reset();
            return self.Queue(connection, *exchange, std::move(reply));
        }
        if (exchange->bodyTooLarge) {
            return self.Refuse(connection, *exchange, MHD_HTTP_CONTENT_TOO_LARGE);
        }
        if (exchange->dispatched) return MHD_YES;
        return self.Dispatch(connection, *exchange);
    }

    // Cuts the connections that have taken too long over a request, and gives memory that
    // replies used back to the system once a minute: freed pieces of the threads' arenas are
    // otherwise kept for good. Beats the hooks' heartbeat, so that it stops when this loop does.
    void Watch(const ServeHooks& hooks) {
        const bool beating = hooks.heartbeat && hooks.heartbeatInterval.count() > 0;
        const auto period =
            beating ? std::min(hooks.heartbeatInterval, kWatchPeriod) : kWatchPeriod;
        std::unique_lock stop(stopMutex);
        auto trimmed = SteadyClock::now();
        auto beaten = trimmed;
        if (beating) hooks.heartbeat();
        while (!stopChanged.wait_for(stop, period, [&] { return stopRequested; })) {
            const auto now = SteadyClock::now();
            if (beating && now - beaten >= hooks.heartbeatInterval) {
                hooks.heartbeat();
                beaten = now;
            }
            if (now - trimmed > std::chrono::minutes(1)) {
                malloc_trim(0);
                trimmed = now;
            }
            std::lock_guard lock(linksMutex);
            for (Link* link : timedLinks) {
                if (link->timed && !link->cut && now > link->deadline) {
                    // The library sees the end of the stream and closes the connection itself.
                    ::shutdown(link->fd, SHUT_RDWR);
                    link->cut = true;
                }
            }
        }
    }
};

HttpServer::HttpServer(HttpLimits limits, HttpRoutes routes)
    : impl_(std::make_unique<Impl>(std::move(limits), std::move(routes))) {}

HttpServer::~HttpServer() {
    if (impl_->listenSocket >= 0) ::close(impl_->listenSocket);
}

int HttpServer::Bind(const std::string& host, int port) {
    const ListenSocket listening = Listen(host, port);
    impl_->listenSocket = listening.fd;
    return listening.port;
}

bool HttpServer::Serve(const ServeHooks& hooks) {
    Impl& self = *impl_;
    // Every connection is a descriptor. Past the descriptors, clients would wait unanswered;
    // the cap stops first and leaves the reserve.
    const rlim_t descriptors = RaiseDescriptorLimit();
    const unsigned reserve = self.limits.descriptorReserve;
    self.cap = self.limits.connections;
    if (reserve > 0 && descriptors < rlim_t{self.cap} + reserve) {
        self.cap = static_cast<unsigned>(std::max<rlim_t>(descriptors, reserve + 1) - reserve);
        LogLine(LogPriority::Warning,
                "el límite de descriptores (" + std::to_string(descriptors) + ") deja " +
                    std::to_string(self.cap) + " conexiones de las " +
                    std::to_string(self.limits.connections) + " que se piden");
    }
    // A quarter of the reserve for the refusals beyond the cap and the reserved paths.
    const unsigned spare = reserve / 4;
    self.spareCap = spare;
    // Turbo: the library shuts no socket down as it closes its connection, which leaves a
    // stream handed over untouched.
    // The library listens on no socket: the acceptor hands it what there is room for.
    const unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME |
                           MHD_USE_TURBO | MHD_USE_NO_LISTEN_SOCKET;
    self.streamConnections =
        std::make_unique<StreamConnections>(std::max(self.limits.ioThreads, 1u));
    MHD_Daemon* daemon = MHD_start_daemon(
        flags, 0, nullptr, nullptr, Impl::Handle, &self, MHD_OPTION_THREAD_POOL_SIZE,
        std::max(self.limits.ioThreads, 1u), MHD_OPTION_CONNECTION_LIMIT, self.cap + spare,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, self.limits.headBytes, MHD_OPTION_CONNECTION_TIMEOUT,
        self.limits.idleSeconds, MHD_OPTION_NOTIFY_CONNECTION, Impl::ConnectionEvent, &self,
        MHD_OPTION_NOTIFY_COMPLETED, Impl::Completed, &self, MHD_OPTION_URI_LOG_CALLBACK,
        Impl::RequestLine, &self, MHD_OPTION_END);
    if (!daemon) return false;
    self.daemon = daemon;
    {
        std::lock_guard lock(self.daemonMutex);
        self.takesBack = true;
    }
    auto acceptor = std::make_unique<Acceptor>(
        self.listenSocket,
        Acceptor::Hooks{[&self] { return self.Room(); },
                        [&self](int fd, const sockaddr* address, socklen_t size) {
                            self.Take(fd, address, size);
                        }});
    {
        std::lock_guard lock(self.linksMutex);
        self.acceptor = std::move(acceptor);
    }
    self.serving = true;
    if (hooks.ready) hooks.ready();
    self.Watch(hooks);
    // No new connections, then every request in hand answered, then the end.
    self.acceptor->Stop();
    ::close(self.listenSocket);
    self.listenSocket = -1;
    self.workers.Drain();
    {
        std::lock_guard lock(self.daemonMutex);
        self.takesBack = false;
    }
    MHD_stop_daemon(daemon);
    // Ended last: a stream may still be handed over until the library stops.
    self.streamConnections->Stop();
    {
        std::lock_guard lock(self.linksMutex);
        self.acceptor.reset();
    }
    self.daemon = nullptr;
    self.serving = false;
    return true;
}

bool HttpServer::Serving() const {
    return impl_->serving;
}

void HttpServer::Stop() {
    {
        std::lock_guard lock(impl_->stopMutex);
        impl_->stopRequested = true;
    }
    impl_->stopChanged.notify_all();
}

}  // namespace tertulia
