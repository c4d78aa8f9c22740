#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "service/reply_stream.h"

namespace tertulia {

// What one client may take of the server. A connection that has not sent a complete request
// head within `headSeconds` of its start (or of its previous reply) is cut, however slowly it
// trickles; its body must follow within one more second per KiB that its route takes, the
// whole request within `bodySeconds` at most (or the head's time where that is longer). One
// that sends nothing for `idleSeconds` is closed.
struct HttpLimits {
    // Event streams are connections held for long. With the service's reserve, as many as a
    // common hard limit of 20,000 descriptors allows.
    unsigned connections = 19000;
    unsigned connectionsPerAddress = 64;  // 0: no limit
    // Request line, headers and their bookkeeping, kept by each connection while it is the
    // library's; a stream's connection leaves it once the stream's reply starts.
    std::size_t headBytes = 16 * 1024;
    unsigned headSeconds = 10;
    unsigned bodySeconds = 30;
    unsigned idleSeconds = 15;
    unsigned ioThreads = 2;  // threads that move bytes; they never wait for the database
    unsigned workers = 64;   // threads that answer requests
    // Reply bytes held for clients that have not taken them yet. A reply larger than
    // `largeReplyBytes` that would pass this is refused with 503, so clients that ask and never
    // read cannot fill the memory.
    std::size_t unsentReplyBytes = 16 << 20;
    std::size_t largeReplyBytes = 64 << 10;
    // What all event streams together hold for their clients (see ReplyStream); 0: no cap.
    std::size_t streamBufferBytes = 64 << 20;
    // Connections per address count an IPv6 client by its /64 (see LimitKey). Addresses whose
    // connections the per-address limit leaves alone (trusted proxies):
    std::set<std::string> unlimitedAddresses;
    // Descriptors left to the rest of the process (database, logs, files), 0 for none: the
    // connections held stop at the descriptor limit less these, below `connections` where the
    // system gives less. One beyond is answered 503 and closed, unless it asks for one of
    // `reservedPaths`, which is answered from the reserve (a balancer's health check).
    unsigned descriptorReserve = 0;
    std::set<std::string> reservedPaths;
};

struct HttpRequest {
    std::string method;  // "HEAD" is answered as "GET" without the body
    std::string path;    // percent-decoded
    std::string target;  // as sent: path and query, still encoded
    std::vector<std::pair<std::string, std::string>> headers;  // names in lower case
    std::string body;
    std::string peer;  // the connection's address: "192.0.2.1" or "2001:db8::1"
    // When it was whole and went to be answered, before any wait for a worker.
    std::chrono::steady_clock::time_point arrived;

    // The value of the header, several of them joined with ", "; empty when absent.
    std::string Header(std::string_view lowerName) const;
};

struct HttpReply {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // A reply that is part of bytes kept elsewhere (the update download): not copied.
    std::shared_ptr<const std::string> shared;
    std::size_t sharedOffset = 0;
    std::size_t sharedLength = 0;
    // A reply that goes on as bytes are appended to it, sent chunked on a connection served
    // outside the library from then on (see StreamConnections); it has no idle time-out and
    // holds no thread while it waits.
    std::shared_ptr<ReplyStream> stream;
};

// One line per finished request, to the access log; empty `target` for a connection that sent
// no complete request line.
struct AccessRecord {
    std::string peer;
    std::string forwardedFor;  // the request's X-Forwarded-For
    std::string method;
    std::string target;
    int status = 0;  // 0: the server refused the request before it reached a handler
    std::size_t bytes = 0;
    double milliseconds = 0;
};

struct HttpRoutes {
    // The largest body the route takes; 0 for routes without a body.
    std::function<std::size_t(const std::string& method, const std::string& path)> bodyLimit;
    // Answers on the thread that read the request, when it needs nothing that may wait (no
    // database); nothing hands the request to a worker. Optional.
    std::function<std::optional<HttpReply>(const HttpRequest&)> answerAtOnce;
    // Runs on a worker thread and may wait for the database; the request's `arrived` tells how
    // long it waited for the worker.
    std::function<HttpReply(const HttpRequest&)> answer;
    // Called for every finished request when set; from any thread.
    std::function<void(const AccessRecord&)> log;
    // Called as each reply is handed to the library (a stream's at its start), with the
    // seconds since the request's head was complete; from any thread. Optional.
    std::function<void(const HttpRequest&, int status, double seconds)> answered;
};

// What Serve tells its caller from its own loop, for a service manager to hear.
struct ServeHooks {
    // Once the server accepts connections.
    std::function<void()> ready;
    // Every `heartbeatInterval` while it serves, when both are set.
    std::function<void()> heartbeat;
    std::chrono::milliseconds heartbeatInterval{0};
};

// HTTP/1.1 served with GNU libmicrohttpd: a few threads on epoll carry every connection, and a
// request is handed to a pool of workers while its connection waits suspended, so neither slow
// clients nor slow answers hold the others; a streamed reply's connection leaves the library once
// the reply starts. Requests of one connection are answered in order. Connections are accepted
// only while the cap leaves room for them.
// Requests with conflicting framing (several Content-Length values, or one together with
// Transfer-Encoding), header names that are no HTTP token (a blank before the colon, a folded
// line) and chunked bodies are refused, as are bodies beyond the route's limit.
class HttpServer {
  public:
    HttpServer(HttpLimits limits, HttpRoutes routes);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds and listens; port 0 picks a free one. Returns the port, or throws.
    int Bind(const std::string& host, int port);
    // Serves until Stop; returns false when the server could not start. Raises the process's
    // soft descriptor limit to its hard one first.
    bool Serve(const ServeHooks& hooks = {});
    bool Serving() const;
    // Ends a running Serve after the requests in hand are answered; safe from any thread.
    void Stop();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tertulia
