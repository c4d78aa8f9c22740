#include "service/http_server.h"

#include <arpa/inet.h>
#include <malloc.h>
#include <microhttpd.h>
#include <netdb.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "service/client_address.h"
#include "service/service_log.h"
#include "service/worker_pool.h"

namespace tertulia {

namespace {

using SteadyClock = std::chrono::steady_clock;

// How often the server looks for connections that have taken too long.
constexpr std::chrono::milliseconds kWatchPeriod{250};
// How often it looks for held streams whose clients have closed their connections.
constexpr std::chrono::milliseconds kHangUpPeriod{1000};
// The kernel's send buffer of a stream's connection: a client that stops reading holds little.
constexpr int kStreamSendBuffer = 16 * 1024;
// When a client beyond its address's limit may try again.
constexpr const char* kRetryAfterLimit = "10";

// How long a connection beyond the cap may take over its request head: it holds a descriptor
// of the reserve meanwhile.
constexpr std::chrono::seconds kSpareHead{1};

// Raises the soft descriptor limit to the hard one; the descriptors the process may hold.
rlim_t RaiseDescriptorLimit() {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0) return 0;
    if (files.rlim_cur < files.rlim_max) {
        rlimit raised = files;
        // An unlimited hard limit still ends at the kernel's default ceiling per process.
        raised.rlim_cur = files.rlim_max == RLIM_INFINITY ? rlim_t{1} << 20 : files.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) files = raised;
    }
    return files.rlim_cur;
}

std::string AddressText(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = "";
    if (address && address->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                  sizeof text);
    } else if (address && address->sa_family == AF_INET6) {
        const in6_addr& bytes = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        // An IPv4 client on a dual-stack socket is known by its IPv4 address.
        if (IN6_IS_ADDR_V4MAPPED(&bytes)) {
            inet_ntop(AF_INET, &bytes.s6_addr[12], text, sizeof text);
        } else {
            inet_ntop(AF_INET6, &bytes, text, sizeof text);
        }
    }
    return text;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

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
};

// A reply body the library sends from, and the budget it is counted in.
struct HeldReply {
    std::string body;
    std::atomic<std::size_t>* unsent = nullptr;
};

// Header names are HTTP tokens. This library keeps a blank before the colon in the name, and
// joins a folded line's text to the name of the header it continues, so both show up here; a
// folded line of one bare token (which makes another valid name) cannot be told apart, unless
// it continues a header that frames the body.
bool ValidHeaderName(std::string_view name) {
    if (name.empty()) return false;
    for (const char c : name) {
        const bool token = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
        if (!token) return false;  // names are in lower case here
    }
    for (const std::string_view framing : {"content-length", "transfer-encoding"}) {
        if (name.size() > framing.size() && name.starts_with(framing)) return false;
    }
    return true;
}

// One request from its complete head to its reply.
struct Exchange {
    HttpRequest request;
    std::size_t bodyLimit = 0;
    bool bodyTooLarge = false;
    bool dispatched = false;
    std::optional<HttpReply> reply;
    int status = 0;
    std::size_t bytes = 0;
    std::shared_ptr<ReplyStream> stream;
    SteadyClock::time_point start = SteadyClock::now();
};

}  // namespace

std::string HttpRequest::Header(std::string_view lowerName) const {
    std::string value;
    for (const auto& [name, text] : headers) {
        if (name != lowerName) continue;
        if (!value.empty()) value += ", ";
        value += text;
    }
    return value;
}

struct HttpServer::Impl {
    HttpLimits limits;
    HttpRoutes routes;
    int listenSocket = -1;
    bool ipv6 = false;

    WorkerPool workers;
    std::atomic<bool> serving = false;
    std::mutex stopMutex;
    std::condition_variable stopChanged;
    bool stopRequested = false;

    std::mutex linksMutex;
    // The links with a deadline, which the watch looks over several times a second: held
    // streams are many and have none, and are not walked through under the lock each time.
    std::unordered_set<Link*> timedLinks;
    std::unordered_map<std::string, unsigned> perAddress;  // by Link::key
    unsigned cap = 0;   // connections held at most, `limits.connections` or fewer
    unsigned held = 0;  // links that are not spare
    std::unordered_map<std::string, unsigned> overLimit;  // by Link::key, awaiting their 429
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

    // Streams being sent, which a stop ends, by a number never used again.
    std::mutex streamsMutex;
    std::unordered_map<std::uint64_t, std::weak_ptr<ReplyStream>> streams;
    std::uint64_t lastStream = 0;
    // The streams' sockets, each watched for its client's hang-up with its stream's number: the
    // watch hears of those that hung up without going through every held stream. A socket
    // leaves it when it closes.
    const int hangUps = ::epoll_create1(EPOLL_CLOEXEC);

    Impl(HttpLimits limits, HttpRoutes routes)
        : limits(std::move(limits)), routes(std::move(routes)), workers(this->limits.workers) {}
    ~Impl() {
        if (hangUps >= 0) ::close(hangUps);
    }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

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

    static unsigned CountOf(const std::unordered_map<std::string, unsigned>& counts,
                            const std::string& key) {
        const auto it = counts.find(key);
        return it == counts.end() ? 0 : it->second;
    }

    static void Uncount(std::unordered_map<std::string, unsigned>& counts, const std::string& key) {
        const auto it = counts.find(key);
        if (it != counts.end() && --it->second == 0) counts.erase(it);
    }

    // Connections beyond an address's limit are taken to answer their request 429, which tells
    // a browser to stop; as many again as the limit, and the rest are closed unanswered.
    static MHD_Result Accept(void* cls, const sockaddr* address, socklen_t) {
        auto& self = *static_cast<Impl*>(cls);
        const std::string text = AddressText(address);
        if (!self.Limited(text)) return MHD_YES;
        const std::string key = LimitKey(text);
        std::lock_guard lock(self.linksMutex);
        return CountOf(self.perAddress, key) < self.limits.connectionsPerAddress ||
                       CountOf(self.overLimit, key) < self.limits.connectionsPerAddress
                   ? MHD_YES
                   : MHD_NO;
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
            link->spare = self.held >= self.cap;
            if (!link->spare) ++self.held;
            link->deadline =
                link->since +
                (link->spare ? kSpareHead : std::chrono::seconds(self.limits.headSeconds));
            link->over = self.Limited(link->address) &&
                         CountOf(self.perAddress, link->key) >= self.limits.connectionsPerAddress;
            ++(link->over ? self.overLimit : self.perAddress)[link->key];
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
            if (!link->spare) --self.held;
            Uncount(link->over ? self.overLimit : self.perAddress, link->key);
        }
        self.LogUnanswered(*link);
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
        if (exchange) {
            if (exchange->stream) exchange->bytes = exchange->stream->Sent();
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
        headers.emplace_back(Lower(name ? name : ""), value ? value : "");
        return MHD_YES;
    }

    static void FreeHeld(void* cls) {
        std::unique_ptr<HeldReply> held(static_cast<HeldReply*>(cls));
        if (held->unsent) *held->unsent -= held->body.size();
    }
    static void FreeShared(void* cls) {
        delete static_cast<std::shared_ptr<const std::string>*>(cls);
    }

    // A streamed reply's body as the library reads it.
    struct StreamBody {
        std::shared_ptr<ReplyStream> stream;
        MHD_Connection* connection = nullptr;
        Impl* server = nullptr;
        std::uint64_t number = 0;
    };

    static ssize_t ReadStream(void* cls, std::uint64_t, char* buffer, std::size_t size) {
        auto& body = *static_cast<StreamBody*>(cls);
        const std::ptrdiff_t taken =
            body.stream->Take(buffer, size, [&] { MHD_suspend_connection(body.connection); });
        if (taken == ReplyStream::kOver) return MHD_CONTENT_READER_END_OF_STREAM;
        if (taken == ReplyStream::kCut) return MHD_CONTENT_READER_END_WITH_ERROR;
        return taken;
    }

    void FreeStream(StreamBody* body) {
        body->stream->Gone();
        std::lock_guard lock(streamsMutex);
        streams.erase(body->number);
    }

    // The stream's bytes, sent as they come; the connection sleeps while none are pending.
    MHD_Response* StreamResponse(MHD_Connection* connection, Exchange& exchange,
                                 std::shared_ptr<ReplyStream> stream) {
        exchange.stream = stream;
        int fd = -1;
        if (const Link* link = LinkOf(connection)) fd = link->fd;
        stream->OnWake([connection] { MHD_resume_connection(connection); });
        if (fd >= 0) {
            setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kStreamSendBuffer, sizeof kStreamSendBuffer);
            // A cut stream's connection goes at once, with what the kernel still held for it:
            // its client resumes from what it has. The stream is gone before its socket closes.
            stream->OnCut([fd] {
                const linger abort{1, 0};
                setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
                ::shutdown(fd, SHUT_RDWR);
            });
        }
        std::uint64_t number = 0;
        {
            std::lock_guard lock(streamsMutex);
            number = ++lastStream;
            streams[number] = stream;
        }
        if (fd >= 0 && hangUps >= 0) {
            epoll_event watched{};
            watched.events = EPOLLRDHUP;
            watched.data.u64 = number;
            // A connection kept alive after an earlier stream is still watched, for that one.
            if (::epoll_ctl(hangUps, EPOLL_CTL_ADD, fd, &watched) != 0 && errno == EEXIST) {
                ::epoll_ctl(hangUps, EPOLL_CTL_MOD, fd, &watched);
            }
        }
        auto body =
            std::make_unique<StreamBody>(StreamBody{std::move(stream), connection, this, number});
        // Small blocks: a stream sends a line at a time, and each connection's memory is small.
        MHD_Response* response = MHD_create_response_from_callback(
            MHD_SIZE_UNKNOWN, 1024, ReadStream, body.get(), [](void* cls) {
                std::unique_ptr<StreamBody> freed(static_cast<StreamBody*>(cls));
                freed->server->FreeStream(freed.get());
            });
        if (!response) {
            FreeStream(body.get());  // nothing may cut that socket later
            return nullptr;
        }
        body.release();
        return response;
    }

    MHD_Result Queue(MHD_Connection* connection, Exchange& exchange, HttpReply reply) {
        MHD_Response* response = nullptr;
        if (reply.stream) {
            // The keep-alive comes often enough; the stream ends when its client goes.
            MHD_set_connection_option(connection, MHD_CONNECTION_OPTION_TIMEOUT, 0u);
            response = StreamResponse(connection, exchange, std::move(reply.stream));
        } else if (reply.shared) {
            const std::size_t offset = std::min(reply.sharedOffset, reply.shared->size());
            const std::size_t length = std::min(reply.sharedLength, reply.shared->size() - offset);
            auto* keep = new std::shared_ptr<const std::string>(reply.shared);
            response = MHD_create_response_from_buffer_with_free_callback_cls(
                length, const_cast<char*>(reply.shared->data() + offset), FreeShared, keep);
            if (!response) delete keep;
            exchange.bytes = length;
        } else {
            auto held = std::make_unique<HeldReply>();
            held->body = std::move(reply.body);
            const std::size_t size = held->body.size();
            if (size > limits.largeReplyBytes) {
                if (unsentBytes.fetch_add(size) + size > limits.unsentReplyBytes) {
                    unsentBytes -= size;
                    return Refuse(connection, exchange, MHD_HTTP_SERVICE_UNAVAILABLE);
                }
                held->unsent = &unsentBytes;
            }
            exchange.bytes = size;
            response = MHD_create_response_from_buffer_with_free_callback_cls(
                size, held->body.data(), FreeHeld, held.get());
            if (response) held.release();
        }
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

    // The framing of the request's body; a status to refuse it with, or 0.
    static int FramingRefusal(const HttpRequest& request, std::size_t limit) {
        std::size_t lengths = 0;
        bool chunked = false;
        for (const auto& [name, value] : request.headers) {
            if (!ValidHeaderName(name)) return MHD_HTTP_BAD_REQUEST;
            if (name == "content-length") ++lengths;
            if (name == "transfer-encoding") chunked = true;
        }
        // Two readings of where the body ends are how requests get smuggled past a proxy.
        if (lengths > 1 || (lengths == 1 && chunked)) return MHD_HTTP_BAD_REQUEST;
        if (chunked) return MHD_HTTP_LENGTH_REQUIRED;
        if (lengths == 1) {
            const std::string text = request.Header("content-length");
            if (text.empty() || text.size() > 18 ||
                text.find_first_not_of("0123456789") != std::string::npos) {
                return MHD_HTTP_BAD_REQUEST;
            }
            if (std::stoull(text) > limit) return MHD_HTTP_CONTENT_TOO_LARGE;
        }
        return 0;
    }

    MHD_Result Start(MHD_Connection* connection, const char* url, const char* method,
                     void** context) {
        auto exchange = std::make_unique<Exchange>();
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
                             const char* method, const char*, const char* upload,
                             std::size_t* uploadSize, void** context) {
        auto& self = *static_cast<Impl*>(cls);
        auto* exchange = static_cast<Exchange*>(*context);
        if (!exchange) return self.Start(connection, url, method, context);
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

    // Wakes every sleeping stream to its end, so that no connection is left suspended.
    void EndStreams() {
        std::vector<std::shared_ptr<ReplyStream>> live;
        {
            std::lock_guard lock(streamsMutex);
            for (const auto& [number, stream] : streams) {
                if (auto held = stream.lock()) live.push_back(std::move(held));
            }
        }
        for (const auto& stream : live) stream->End();
    }

    // Cuts the streams whose clients have closed their side: a sleeping connection is not
    // watched by the library, and would otherwise count against its address until the next
    // keep-alive. The check is on the stream, never on a socket that may have been reused.
    void CutHungUpStreams() {
        if (hangUps < 0) return;
        // A hung-up socket stays ready until it closes; the ready are handed out in turn.
        std::array<epoll_event, 1024> ready{};
        const int count = ::epoll_wait(hangUps, ready.data(), static_cast<int>(ready.size()), 0);
        std::vector<std::shared_ptr<ReplyStream>> gone;
        {
            std::lock_guard lock(streamsMutex);
            for (int i = 0; i < count; ++i) {
                const auto found = streams.find(ready[static_cast<std::size_t>(i)].data.u64);
                if (found == streams.end()) continue;
                if (auto stream = found->second.lock()) gone.push_back(std::move(stream));
            }
        }
        for (const auto& stream : gone) stream->Cut();
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
        auto looked = trimmed;
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
            if (now - looked >= kHangUpPeriod) {
                CutHungUpStreams();
                looked = now;
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
    const std::string failure = "no se puede escuchar en " + host + ":" + std::to_string(port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) {
        throw std::runtime_error(failure);
    }
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, freeaddrinfo);
    const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) throw std::runtime_error(failure);
    // Plain address reuse, never port sharing: a second service on a busy port must fail.
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_storage bound{};
    socklen_t size = sizeof bound;
    if (::bind(fd, found->ai_addr, found->ai_addrlen) != 0 || ::listen(fd, SOMAXCONN) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &size) != 0) {
        ::close(fd);
        throw std::runtime_error(failure);
    }
    impl_->listenSocket = fd;
    impl_->ipv6 = found->ai_family == AF_INET6;
    return ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                             : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
}

bool HttpServer::Serve(const ServeHooks& hooks) {
    Impl& self = *impl_;
    // Every connection is a descriptor. Past the descriptors the library would stop accepting,
    // and clients would wait unanswered; the cap stops first and leaves the reserve.
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
    const unsigned flags =
        MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | (self.ipv6 ? MHD_USE_IPv6 : 0);
    MHD_Daemon* daemon = MHD_start_daemon(
        flags, 0, Impl::Accept, &self, Impl::Handle, &self, MHD_OPTION_LISTEN_SOCKET,
        self.listenSocket, MHD_OPTION_THREAD_POOL_SIZE, std::max(self.limits.ioThreads, 1u),
        MHD_OPTION_CONNECTION_LIMIT, self.cap + spare, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        self.limits.headBytes, MHD_OPTION_CONNECTION_TIMEOUT, self.limits.idleSeconds,
        MHD_OPTION_NOTIFY_CONNECTION, Impl::ConnectionEvent, &self, MHD_OPTION_NOTIFY_COMPLETED,
        Impl::Completed, &self, MHD_OPTION_URI_LOG_CALLBACK, Impl::RequestLine, &self,
        MHD_OPTION_END);
    if (!daemon) return false;
    self.serving = true;
    if (hooks.ready) hooks.ready();
    self.Watch(hooks);
    // No new connections, then every request in hand answered, then the end.
    const MHD_socket listening = MHD_quiesce_daemon(daemon);
    self.workers.Drain();
    self.EndStreams();
    MHD_stop_daemon(daemon);
    if (listening != MHD_INVALID_SOCKET) ::close(listening);
    self.listenSocket = -1;
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
