#include "service/service.h"

#include <time.h>

#include <charconv>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <thread>

#include "protocol/service_replies.h"
#include "service/bad_request.h"
#include "service/charset.h"
#include "service/chat_widget.h"
#include "service/client_address.h"
#include "service/form_fields.h"
#include "service/options.h"
#include "service/process_metrics.h"
#include "service/service_log.h"
#include "service/visitor_page.h"
#include "service/web_origin.h"

namespace tertulia {

namespace {

// Bodies each visitor route takes: a name and a company code, or a line of 2000 characters
// percent-encoded with a token. Every other route takes none.
constexpr std::size_t kOpenBody = 4 * 1024;
constexpr std::size_t kSendBody = 32 * 1024;

const char* const kOperatorType = "text/plain; charset=windows-1252";
const char* const kJsonType = "application/json; charset=utf-8";
const std::string kConversations = "/api/conversaciones";
const std::string kHealth = "/salud";
// How long the health check waits for the database (or the database time-out where that is
// shorter): within the 2 s that a balancer's check is commonly given.
constexpr std::chrono::milliseconds kHealthBound{1500};
// Descriptors kept from the connections for the database's connections, the logs and the files
// the service opens, the metrics listener's few scrapers, and health checks at the cap.
constexpr unsigned kDescriptorReserve = 64;

std::int64_t SystemClock() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool IsForm(const HttpRequest& request) {
    return request.Header("content-type").starts_with("application/x-www-form-urlencoded");
}

HttpReply Reply(int status, std::string body, const char* type) {
    HttpReply reply;
    reply.status = status;
    reply.body = std::move(body);
    reply.headers = {{"Content-Type", type}, {"X-Content-Type-Options", "nosniff"}};
    return reply;
}

HttpReply Stream(std::shared_ptr<ReplyStream> stream, const char* charset) {
    HttpReply reply = Reply(200, "", charset);
    reply.headers.emplace_back("Cache-Control", "no-store");
    // Proxies that buffer replies (nginx) pass this one on as it comes.
    reply.headers.emplace_back("X-Accel-Buffering", "no");
    reply.stream = std::move(stream);
    return reply;
}

HttpReply Json(const JsonReply& json) {
    HttpReply reply = Reply(json.status, json.body, kJsonType);
    reply.headers.emplace_back("Cache-Control", "no-store");
    return reply;
}

HttpReply Failure(const std::string& path, int status) {
    if (path.starts_with("/api/")) return Json({status, R"({"error":"Petición no válida."})"});
    return Reply(status, "Error " + std::to_string(status) + "\n", "text/plain; charset=utf-8");
}

// The database did not answer in time; the client may try again shortly.
HttpReply Unavailable(const std::string& path) {
    const std::string message = "La base de datos no responde; inténtelo de nuevo.";
    HttpReply reply;
    if (path == "/tertulia.php") {
        reply = Reply(503, Windows1252FromUtf8("ERROR: " + message), kOperatorType);
        reply.headers.emplace_back("Cache-Control", "no-store");
    } else if (path.starts_with("/api/")) {
        reply = Json({503, "{\"error\":\"" + message + "\"}"});
    } else if (path == kHealth) {
        reply = Reply(503, "ERROR: La base de datos no responde.", "text/plain; charset=utf-8");
        reply.headers.emplace_back("Cache-Control", "no-store");
    } else {
        reply = Reply(503, "Error 503\n", "text/plain; charset=utf-8");
    }
    reply.headers.emplace_back("Retry-After", "5");
    return reply;
}

// The value of the cookie `name` in a Cookie header; empty when it has none.
std::string CookieOf(std::string_view header, std::string_view name) {
    while (!header.empty()) {
        const std::size_t end = header.find(';');
        std::string_view pair = header.substr(0, end);
        while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
        if (pair.starts_with(name) && pair.substr(name.size()).starts_with('=')) {
            return std::string(pair.substr(name.size() + 1));
        }
        header = end == std::string_view::npos ? "" : header.substr(end + 1);
    }
    return "";
}

// The conversation id of "/api/conversaciones/ID" followed by `rest`, when the path is one.
std::optional<std::string> ConversationOfPath(const std::string& path, std::string_view rest) {
    const std::string prefix = kConversations + "/";
    if (!path.starts_with(prefix) || !path.ends_with(rest)) return std::nullopt;
    if (path.size() <= prefix.size() + rest.size()) return std::nullopt;
    std::string id = path.substr(prefix.size(), path.size() - prefix.size() - rest.size());
    if (id.find('/') != std::string::npos) return std::nullopt;
    return id;
}

std::optional<std::size_t> Position(std::string_view text) {
    std::size_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// The download, whole or one range of it. Only a single range is served: a list of ranges
// (which could ask for the same bytes many times over) or a malformed one gets the whole file.
HttpReply RangeOf(const std::shared_ptr<const std::string>& bytes, std::string_view range) {
    const std::size_t size = bytes->size();
    HttpReply reply = Reply(200, "", "application/octet-stream");
    reply.headers.emplace_back("Accept-Ranges", "bytes");
    reply.shared = bytes;
    reply.sharedLength = size;
    constexpr std::string_view kUnit = "bytes=";
    if (!range.starts_with(kUnit) || range.find(',') != std::string_view::npos) return reply;
    range.remove_prefix(kUnit.size());
    const std::size_t dash = range.find('-');
    if (dash == std::string_view::npos) return reply;
    const std::string_view firstText = range.substr(0, dash);
    const std::string_view lastText = range.substr(dash + 1);
    std::size_t first = 0;
    std::size_t last = size == 0 ? 0 : size - 1;
    if (firstText.empty()) {
        const auto suffix = Position(lastText);
        if (!suffix) return reply;
        if (*suffix == 0 || size == 0)
            first = size;
        else
            first = size - std::min(*suffix, size);
    } else {
        const auto from = Position(firstText);
        if (!from) return reply;
        first = *from;
        if (!lastText.empty()) {
            const auto to = Position(lastText);
            if (!to || *to < first) return reply;
            last = std::min(*to, last);
        }
    }
    if (first >= size) {
        HttpReply refused = Reply(416, "", "application/octet-stream");
        refused.headers.emplace_back("Content-Range", "bytes */" + std::to_string(size));
        return refused;
    }
    reply.status = 206;
    reply.sharedOffset = first;
    reply.sharedLength = last - first + 1;
    reply.headers.emplace_back(
        "Content-Range",
        "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(size));
    return reply;
}

// The target as the access log shows it: the values of passwords, session ids, tokens and
// lines are left out, and bytes that could disturb a terminal or a log reader are escaped.
std::string LoggedTarget(std::string_view target) {
    std::string kept;
    const std::size_t question = target.find('?');
    kept = target.substr(0, question);
    if (question != std::string_view::npos) {
        std::string_view query = target.substr(question + 1);
        char separator = '?';
        while (true) {
            const std::size_t amp = query.find('&');
            const std::string_view field = query.substr(0, amp);
            const std::string_view name = field.substr(0, field.find('='));
            kept += separator;
            separator = '&';
            if (name == "contrasena" || name == "idsesion" || name == "token" ||
                name == "mensaje") {
                kept += std::string(name) + "=-";
            } else {
                kept += field;
            }
            if (amp == std::string_view::npos) break;
            query.remove_prefix(amp + 1);
        }
    }
    std::string out;
    for (const char c : kept) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || c == '"' || c == '\\') {
            static constexpr char kDigits[] = "0123456789ABCDEF";
            out += '%';
            out += kDigits[byte >> 4];
            out += kDigits[byte & 15];
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

Service::Service(ServiceConfig config)
    : storage_(std::move(config.storage)),
      update_(std::move(config.update)),
      trustedProxies_(config.trustedProxies) {
    if (!storage_) throw std::invalid_argument("a service needs its storage");
    const Clock clock = config.clock ? config.clock : Clock(SystemClock);
    operatorApi_ = std::make_unique<OperatorApi>(*storage_, config.visitors.perConversation, clock);
    visitorApi_ = std::make_unique<VisitorApi>(storage_->conversations, config.visitors, clock);
    updateApi_ = std::make_unique<UpdateApi>(update_);
    retention_ = std::make_unique<RetentionLoop>(storage_->retention, config.keepDays,
                                                 config.visitors.silenceSeconds);
    streams_ = std::make_unique<EventStreams>(
        *storage_, config.visitors.silenceSeconds,
        config.http.streamBufferBytes != 0 ? config.http.streamBufferBytes : SIZE_MAX);
    if (config.accessLog == "-") {
        accessLog_ = stdout;
    } else if (!config.accessLog.empty()) {
        accessLog_ = std::fopen(config.accessLog.c_str(), "a");
        if (!accessLog_) {
            throw std::runtime_error("no se puede escribir el registro de accesos " +
                                     config.accessLog);
        }
        accessLogPath_ = config.accessLog;
    }
    HttpLimits limits = config.http;
    limits.unlimitedAddresses.insert(trustedProxies_.begin(), trustedProxies_.end());
    limits.descriptorReserve = kDescriptorReserve;
    limits.reservedPaths = {kHealth};
    HttpRoutes routes;
    routes.bodyLimit = [](const std::string& method, const std::string& path) -> std::size_t {
        if (method != "POST") return 0;
        if (path == kConversations) return kOpenBody;
        if (ConversationOfPath(path, "/mensajes")) return kSendBody;
        return 0;
    };
    routes.answer = [this](const HttpRequest& request) { return Answer(request); };
    routes.answerAtOnce = [this](const HttpRequest& request) { return AnswerAtOnce(request); };
    if (accessLog_) routes.log = [this](const AccessRecord& record) { WriteAccessLog(record); };
    routes.answered = [this](const HttpRequest& request, int status, double seconds) {
        requests_.Answered(RouteOf(request.path), status, seconds);
    };
    server_ = std::make_unique<HttpServer>(std::move(limits), std::move(routes));
}

Service::~Service() {
    metricsServer_.reset();
    server_.reset();
    streams_.reset();
    retention_.reset();
    if (!accessLogPath_.empty()) std::fclose(accessLog_);
}

HttpReply Service::Answer(const HttpRequest& request) {
    const std::string client =
        ClientAddress(request.peer, request.Header("x-forwarded-for"), trustedProxies_);
    // The database's time counts from the request's arrival: one that queued behind others
    // while the database stalled is answered by then, not a whole time-out after a worker took
    // it, and at once when that time has passed.
    const DeadlineScope deadline(request.arrived + storage_->database->Timeout());
    try {
        HttpReply reply = Route(request, client);
        databaseStalled_ = false;
        return reply;
    } catch (const DatabaseUnavailable& failure) {
        databaseStalled_ = true;
        LogUnavailable(request.method + " " + request.path, failure.what());
        return Unavailable(request.path);
    } catch (const std::exception& failure) {
        LogInternalError(request.method + " " + request.path, failure.what());
        return Failure(request.path, 500);
    }
}

std::optional<HttpReply> Service::AnswerAtOnce(const HttpRequest& request) {
    try {
        return StaticRoute(request);
    } catch (const std::exception& failure) {
        LogInternalError(request.method + " " + request.path, failure.what());
        return Failure(request.path, 500);
    }
}

std::optional<HttpReply> Service::StaticRoute(const HttpRequest& request) {
    const std::string& path = request.path;
    if (request.method != "GET" && request.method != "HEAD") return std::nullopt;
    const std::string_view query = QueryOfTarget(request.target);
    if (path == "/gl/chkupdate.php") {
        const std::string origin = RequestOrigin(request, trustedProxies_, listenOrigin_);
        HttpReply reply = Reply(200, updateApi_->Check(query, origin), kOperatorType);
        reply.headers.emplace_back("Cache-Control", "no-store");
        return reply;
    }
    if (update_ && path == update_->DownloadPath()) {
        return RangeOf(update_->bytes, request.Header("range"));
    }
    // A company's page names the sites that may frame it, from the database.
    if (path == "/") {
        const auto code = CompanyOfPage(query);
        if (!code) return VisitorPageReply({});
        if (databaseStalled_) {
            if (auto sites = framingSites_.Last(*code)) return VisitorPageReply(*sites);
        }
    }
    if (path == "/widget.js") {
        const std::string origin = RequestOrigin(request, trustedProxies_, listenOrigin_);
        HttpReply reply = Reply(200, ChatWidgetScript(origin), "text/javascript; charset=utf-8");
        // Short, so that a change of the script reaches the company's pages soon.
        reply.headers.emplace_back("Cache-Control", "public, max-age=300");
        reply.headers.emplace_back("Vary", "Host, X-Forwarded-Host, X-Forwarded-Proto");
        return reply;
    }
    return std::nullopt;
}

HttpReply Service::Route(const HttpRequest& request, const std::string& client) {
    if (std::optional<HttpReply> reply = StaticRoute(request)) return std::move(*reply);
    const std::string& path = request.path;
    const bool get = request.method == "GET" || request.method == "HEAD";
    const std::string_view query = QueryOfTarget(request.target);
    if (get && path == kHealth) return Health(request.arrived);
    if (get && path == "/tertulia.php") {
        if (std::optional<HttpReply> stream = OperatorStream(query)) return std::move(*stream);
        ConsoleCookie cookie{CookieOf(request.Header("cookie"), ConsoleCookie::kName), ""};
        OperatorReply answer = operatorApi_->Answer(query, client, cookie);
        HttpReply reply = Reply(200, std::move(answer.text), kOperatorType);
        reply.headers.emplace_back("Cache-Control", "no-store");
        if (answer.lineNotStored) reply.headers.push_back(EscribirCabeceraLineaNoGuardada());
        if (!cookie.toSet.empty()) {
            reply.headers.emplace_back("Set-Cookie", std::string(ConsoleCookie::kName) + "=" +
                                                         cookie.toSet +
                                                         "; Path=/; HttpOnly; SameSite=Strict");
        }
        return reply;
    }
    if (get && path == "/") {
        const std::string code = CompanyOfPage(query).value_or("");
        try {
            std::vector<std::string> sites = storage_->companies.AllowedSites(code);
            framingSites_.Remember(code, sites);
            return VisitorPageReply(sites);
        } catch (const DatabaseUnavailable&) {
            if (auto sites = framingSites_.Last(code)) return VisitorPageReply(*sites);
            throw;
        }
    }
    if (request.method == "POST" && path == kConversations) {
        if (!IsForm(request)) return Json({415, R"({"error":"Se esperan campos de formulario."})"});
        return Json(visitorApi_->Open(request.body, client));
    }
    if (request.method == "POST") {
        if (const auto id = ConversationOfPath(path, "/mensajes")) {
            if (!IsForm(request)) {
                return Json({415, R"({"error":"Se esperan campos de formulario."})"});
            }
            return Json(visitorApi_->Send(*id, request.body, client));
        }
    }
    if (get) {
        if (const auto id = ConversationOfPath(path, "/eventos")) {
            std::shared_ptr<ReplyStream> stream;
            try {
                stream = streams_->Visitor(*id, query, request.Header("last-event-id"));
            } catch (const BadRequest&) {
            }
            if (!stream) return Json(VisitorApi::NoConversation());
            return Stream(std::move(stream), "text/event-stream; charset=utf-8");
        }
        if (const auto id = ConversationOfPath(path, "")) {
            return Json(visitorApi_->Read(*id, query));
        }
    }
    return Failure(path, 404);
}

std::optional<HttpReply> Service::OperatorStream(std::string_view query) {
    try {
        if (FormFields::Parse(query).Get("accion") != "eventos") return std::nullopt;
        if (std::shared_ptr<ReplyStream> stream = streams_->Operator(query)) {
            return Stream(std::move(stream), "text/event-stream; charset=windows-1252");
        }
    } catch (const BadRequest&) {
        return std::nullopt;  // the operator's script says what is wrong with the query
    }
    HttpReply reply = Reply(200, OperatorApi::SessionGoneReply(), kOperatorType);
    reply.headers.emplace_back("Cache-Control", "no-store");
    return reply;
}

std::optional<std::string> Service::CompanyOfPage(std::string_view query) {
    try {
        const auto code = FormFields::Parse(query).Find("empresa");
        if (!code || !ValidCompanyCode(*code)) return std::nullopt;
        return *code;
    } catch (const BadRequest&) {
        return std::nullopt;
    }
}

HttpReply Service::VisitorPageReply(const std::vector<std::string>& sites) {
    HttpReply reply = Reply(200, std::string(VisitorPage()), "text/html; charset=utf-8");
    reply.headers.emplace_back("Content-Security-Policy", VisitorPagePolicy(sites));
    reply.headers.emplace_back("Cache-Control", "no-cache");
    return reply;
}

HttpReply Service::Health(std::chrono::steady_clock::time_point arrived) {
    // Through a worker and the pool of connections like any request, so that a full pool or
    // every worker waiting shows as well as a database that does not answer. The bound counts
    // from the arrival: a check that waited for a worker past it is answered at once, as its
    // balancer has stopped waiting.
    const DeadlineScope bound(arrived + kHealthBound);
    storage_->database->Ping(kHealthBound);
    HttpReply reply = Reply(200, "OK", "text/plain; charset=utf-8");
    reply.headers.emplace_back("Cache-Control", "no-store");
    return reply;
}

const char* Service::RouteOf(const std::string& path) const {
    for (const char* known : {"/", "/widget.js", "/tertulia.php", "/gl/chkupdate.php", "/salud",
                              "/api/conversaciones"}) {
        if (path == known) return known;
    }
    if (update_ && path == update_->DownloadPath()) return "/gl/descargas";
    if (ConversationOfPath(path, "/mensajes")) return "/api/conversaciones/N/mensajes";
    if (ConversationOfPath(path, "/eventos")) return "/api/conversaciones/N/eventos";
    if (ConversationOfPath(path, "")) return "/api/conversaciones/N";
    return "otra";
}

HttpReply Service::MetricsReply(const HttpRequest& request) {
    if ((request.method != "GET" && request.method != "HEAD") || request.path != "/metrics") {
        return Failure(request.path, 404);
    }
    MetricsPage page;
    requests_.Write(page);
    ServiceFigures figures;
    const EventStreams::Held held = streams_->Count();
    figures.visitorStreams = held.visitors;
    figures.operatorStreams = held.operators;
    try {
        figures.waitingConversations = storage_->conversations.WaitingConversations(kHealthBound);
    } catch (const std::exception&) {
        // Left out of the page: the rest of it still tells what the service sees.
    }
    const OperatorApi::RefusedLogins refused = operatorApi_->Refused();
    figures.refusedCredentials = refused.credentials;
    figures.refusedWaiting = refused.waiting;
    figures.refusedBusy = refused.busy;
    figures.databaseFailures = storage_->database->Failures();
    figures.databaseReconnections = storage_->database->Reconnections();
    WriteServiceFigures(page, figures);
    if (const std::optional<ProcessFigures> process = ReadProcessFigures()) {
        WriteProcessFigures(page, *process);
    }
    HttpReply reply = Reply(200, page.Text(), MetricsPage::kContentType);
    reply.headers.emplace_back("Cache-Control", "no-store");
    return reply;
}

void Service::LogUnavailable(const std::string& route, const std::string& cause) {
    constexpr auto kMinute = std::chrono::minutes(1);
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(unavailableMutex_);
    if (unavailableLogged_ && now - *unavailableLogged_ < kMinute) {
        ++unavailableUnlogged_;
        return;
    }
    std::string line = "la base de datos no responde (" + route + "): " + cause;
    if (unavailableUnlogged_ > 0) {
        line += "; antes, " + std::to_string(unavailableUnlogged_) +
                " peticiones más sin respuesta desde la línea anterior";
    }
    LogLine(LogPriority::Error, line);
    unavailableLogged_ = now;
    unavailableUnlogged_ = 0;
}

void Service::WriteAccessLog(const AccessRecord& record) {
    const std::string client = ClientAddress(record.peer, record.forwardedFor, trustedProxies_);
    const time_t now = time(nullptr);
    tm utc{};
    gmtime_r(&now, &utc);
    char stamp[40];
    strftime(stamp, sizeof stamp, "[%d/%b/%Y:%H:%M:%S +0000]", &utc);
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.1fms", record.milliseconds);
    const std::string line =
        client + " - - " + stamp + " \"" + (record.method.empty() ? "-" : record.method) + " " +
        LoggedTarget(record.target) + "\" " +
        (record.status == 0 ? std::string("-") : std::to_string(record.status)) + " " +
        std::to_string(record.bytes) + " " + duration + "\n";
    std::lock_guard lock(accessLogMutex_);
    std::fwrite(line.data(), 1, line.size(), accessLog_);
    std::fflush(accessLog_);
}

int Service::Bind(const std::string& host, int port) {
    port = server_->Bind(host, port);
    const std::string shownHost = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    listenOrigin_ = "http://" + shownHost + ":" + std::to_string(port);
    return port;
}

void Service::ReopenAccessLog() {
    if (accessLogPath_.empty()) return;
    std::FILE* reopened = std::fopen(accessLogPath_.c_str(), "a");
    if (!reopened) {
        LogLine(LogPriority::Error, "no se puede reabrir el registro de accesos " + accessLogPath_ +
                                        "; se sigue escribiendo en el anterior");
        return;
    }
    std::lock_guard lock(accessLogMutex_);
    std::fclose(accessLog_);
    accessLog_ = reopened;
}

int Service::BindMetrics(const std::string& host, int port) {
    // A few scrapers, perhaps all from one address; a socket that asks nothing soon goes, so
    // that idle ones cannot keep a scrape out.
    HttpLimits limits;
    limits.connections = 64;
    limits.headSeconds = 2;
    limits.connectionsPerAddress = 0;
    limits.ioThreads = 1;
    limits.workers = 2;
    HttpRoutes routes;
    routes.bodyLimit = [](const std::string&, const std::string&) -> std::size_t { return 0; };
    routes.answer = [this](const HttpRequest& request) { return MetricsReply(request); };
    metricsServer_ = std::make_unique<HttpServer>(std::move(limits), std::move(routes));
    return metricsServer_->Bind(host, port);
}

bool Service::Serve(const ServeHooks& hooks) {
    std::thread metrics;
    if (metricsServer_) {
        metrics = std::thread([this] {
            if (!metricsServer_->Serve()) {
                LogLine(LogPriority::Error, "no se puede servir la página de métricas");
            }
        });
    }
    const bool served = server_->Serve(hooks);
    if (metricsServer_) {
        metricsServer_->Stop();
        metrics.join();
    }
    return served;
}

bool Service::Serving() const {
    return server_->Serving();
}

void Service::Stop() {
    server_->Stop();
}

}  // namespace tertulia
