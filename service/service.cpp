#include "service/service.h"

#include <charconv>
#include <chrono>
#include <cstdint>
#include <stdexcept>

#include "protocol/operator_stream_address.h"
#include "protocol/service_replies.h"
#include "service/bad_request.h"
#include "service/chat_widget.h"
#include "service/client_address.h"
#include "service/health_check.h"
#include "service/http_replies.h"
#include "service/options.h"
#include "service/service_log.h"
#include "service/visitor_page.h"
#include "service/web_origin.h"

namespace tertulia {

namespace {

// Bodies each visitor route takes: a name and a company code, or a line of 2000 characters
// percent-encoded with a token. Every other route takes none.
// Room for the page's context (three fields of up to 500 characters) percent-encoded.
constexpr std::size_t kOpenBody = 8 * 1024;
constexpr std::size_t kSendBody = 32 * 1024;

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

HttpReply NotAForm() {
    return JsonHttpReply({415, R"({"error":"Se esperan campos de formulario."})"});
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
    HttpReply reply = TypedReply(200, "", "application/octet-stream");
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
        HttpReply refused = TypedReply(416, "", "application/octet-stream");
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

// The company that a visitor page's query names, when it names a valid code.
std::optional<std::string> CompanyOfPage(const RoutedRequest& request) {
    try {
        const auto code = request.Fields().Find("empresa");
        if (!code || !ValidCompanyCode(*code)) return std::nullopt;
        return *code;
    } catch (const BadRequest&) {
        return std::nullopt;
    }
}

HttpReply VisitorPageReply(const std::vector<std::string>& sites) {
    HttpReply reply = TypedReply(200, std::string(VisitorPage()), "text/html; charset=utf-8");
    reply.headers.emplace_back("Content-Security-Policy", VisitorPagePolicy(sites));
    reply.headers.emplace_back("Cache-Control", "no-cache");
    return reply;
}

// A handler that always answers, as a route's.
template <typename Handler>
RouteHandler Always(Handler handler) {
    return [handler](const RoutedRequest& request) -> std::optional<HttpReply> {
        return handler(request);
    };
}

}  // namespace

Service::Service(ServiceConfig config)
    : storage_(std::move(config.storage)),
      update_(std::move(config.update)),
      trustedProxies_(config.trustedProxies) {
    if (!storage_) throw std::invalid_argument("a service needs its storage");
    const Clock clock = config.clock ? config.clock : Clock(SystemClock);
    storage_->conversations.WatchFirstAnswers(
        [this](std::int64_t seconds) { firstResponses_.Answered(static_cast<double>(seconds)); });
    operatorApi_ = std::make_unique<OperatorApi>(*storage_, config.visitors, clock);
    visitorApi_ = std::make_unique<VisitorApi>(storage_->conversations, config.visitors, clock);
    updateApi_ = std::make_unique<UpdateApi>(update_);
    retention_ = std::make_unique<RetentionLoop>(storage_->retention, config.keepDays,
                                                 config.visitors.silenceSeconds);
    streams_ = std::make_unique<EventStreams>(
        *storage_, config.visitors,
        config.http.streamBufferBytes != 0 ? config.http.streamBufferBytes : SIZE_MAX);
    if (!config.accessLog.empty()) {
        accessLog_ = std::make_unique<AccessLog>(config.accessLog, trustedProxies_);
    }
    AddRoutes();
    HttpLimits limits = config.http;
    limits.unlimitedAddresses.insert(trustedProxies_.begin(), trustedProxies_.end());
    limits.descriptorReserve = kDescriptorReserve;
    limits.reservedPaths = {std::string(kHealthPath)};
    HttpRoutes routes;
    routes.bodyLimit = [this](const std::string& method, const std::string& path) {
        return routes_.BodyLimit(method, path);
    };
    routes.answer = [this](const HttpRequest& request) { return Answer(request); };
    routes.answerAtOnce = [this](const HttpRequest& request) { return AnswerAtOnce(request); };
    if (accessLog_) {
        routes.log = [log = accessLog_.get()](const AccessRecord& record) { log->Write(record); };
    }
    routes.answered = [this](const HttpRequest& request, int status, double seconds) {
        requests_.Answered(routes_.Counted(request.path), status, seconds);
    };
    server_ = std::make_unique<HttpServer>(std::move(limits), std::move(routes));
}

Service::~Service() {
    metrics_.reset();
    server_.reset();
    streams_.reset();
    retention_.reset();
    storage_->conversations.WatchFirstAnswers({});
}

void Service::AddRoutes() {
    using Method = Route::Method;
    const auto bind = [this](auto member) {
        return [this, member](const RoutedRequest& request) { return (this->*member)(request); };
    };
    routes_.Add({.method = Method::Get,
                 .path = "/gl/chkupdate.php",
                 .atOnce = bind(&Service::UpdateCheck)});
    if (update_) {
        routes_.Add({.method = Method::Get,
                     .path = update_->DownloadPath(),
                     .atOnce = Always([this](const RoutedRequest& request) {
                         return RangeOf(update_->bytes, request.http.Header("range"));
                     }),
                     .counted = "/gl/descargas"});
    }
    routes_.Add({.method = Method::Get,
                 .path = "/",
                 .atOnce = bind(&Service::CompanyPageAtOnce),
                 .answer = Always(bind(&Service::CompanyPage))});
    routes_.Add({.method = Method::Get,
                 .path = "/widget.js",
                 .atOnce = Always(bind(&Service::ChatWidget))});
    routes_.Add({.method = Method::Get,
                 .path = std::string(kHealthPath),
                 .answer = Always([this](const RoutedRequest& request) {
                     return HealthReply(*storage_, request.http.arrived);
                 })});
    routes_.Add({.method = Method::Get,
                 .path = std::string(kServiceScriptPath),
                 .answer = bind(&Service::OperatorStream)});
    routes_.Add({.method = Method::Get,
                 .path = std::string(kServiceScriptPath),
                 .answer = Always(bind(&Service::OperatorScript))});
    routes_.Add({.method = Method::Post,
                 .path = "/api/conversaciones",
                 .answer = Always(bind(&Service::OpenConversation)),
                 .bodyLimit = kOpenBody});
    routes_.Add({.method = Method::Post,
                 .path = "/api/conversaciones/*/mensajes",
                 .answer = Always(bind(&Service::SendLine)),
                 .bodyLimit = kSendBody});
    routes_.Add({.method = Method::Post,
                 .path = "/api/conversaciones/*/escribiendo",
                 .answer = Always(bind(&Service::VisitorTyping)),
                 .bodyLimit = kOpenBody});
    routes_.Add({.method = Method::Post,
                 .path = "/api/conversaciones/*/terminar",
                 .answer = Always(bind(&Service::EndConversation)),
                 .bodyLimit = kOpenBody});
    routes_.Add({.method = Method::Post,
                 .path = "/api/conversaciones/*/valoracion",
                 .answer = Always(bind(&Service::RateConversation)),
                 .bodyLimit = kSendBody});
    routes_.Add({.method = Method::Get,
                 .path = "/api/empresas/*",
                 .answer = Always(bind(&Service::CompanyFront))});
    routes_.Add({.method = Method::Get,
                 .path = "/api/conversaciones/*/eventos",
                 .answer = Always(bind(&Service::VisitorStream))});
    routes_.Add({.method = Method::Get,
                 .path = "/api/conversaciones/*",
                 .answer = Always(bind(&Service::ReadConversation))});
}

HttpReply Service::Answer(const HttpRequest& request) {
    const std::string client =
        ClientAddress(request.peer, request.Header("x-forwarded-for"), trustedProxies_);
    // The database's time counts from the request's arrival: one that queued behind others
    // while the database stalled is answered by then, not a whole time-out after a worker took
    // it, and at once when that time has passed.
    const DeadlineScope deadline(request.arrived + storage_->database->Timeout());
    try {
        std::optional<HttpReply> reply = routes_.Answer(request, client);
        databaseStalled_ = false;
        if (!reply) return FailureReply(request.path, 404);
        return std::move(*reply);
    } catch (const DatabaseUnavailable& failure) {
        databaseStalled_ = true;
        LogUnavailable(request.method + " " + request.path, failure.what());
        return UnavailableReply(request.path);
    } catch (const std::exception& failure) {
        LogInternalError(request.method + " " + request.path, failure.what());
        return FailureReply(request.path, 500);
    }
}

std::optional<HttpReply> Service::AnswerAtOnce(const HttpRequest& request) {
    try {
        return routes_.AnswerAtOnce(request);
    } catch (const std::exception& failure) {
        LogInternalError(request.method + " " + request.path, failure.what());
        return FailureReply(request.path, 500);
    }
}

std::optional<HttpReply> Service::UpdateCheck(const RoutedRequest& request) {
    const std::string origin = RequestOrigin(request.http, trustedProxies_, listenOrigin_);
    return UncachedReply(200, updateApi_->Check(request.Query(), origin), kOperatorType);
}

std::optional<HttpReply> Service::CompanyPageAtOnce(const RoutedRequest& request) {
    const auto code = CompanyOfPage(request);
    if (!code) return VisitorPageReply({});
    if (databaseStalled_) {
        if (auto sites = framingSites_.Last(*code)) return VisitorPageReply(*sites);
    }
    return std::nullopt;
}

HttpReply Service::CompanyPage(const RoutedRequest& request) {
    // A company's page names the sites that may frame it, from the database.
    const std::string code = CompanyOfPage(request).value_or("");
    try {
        std::vector<std::string> sites = storage_->companies.AllowedSites(code);
        framingSites_.Remember(code, sites);
        return VisitorPageReply(sites);
    } catch (const DatabaseUnavailable&) {
        if (auto sites = framingSites_.Last(code)) return VisitorPageReply(*sites);
        throw;
    }
}

HttpReply Service::ChatWidget(const RoutedRequest& request) {
    const std::string origin = RequestOrigin(request.http, trustedProxies_, listenOrigin_);
    HttpReply reply = TypedReply(200, ChatWidgetScript(origin), "text/javascript; charset=utf-8");
    // Short, so that a change of the script reaches the company's pages soon.
    reply.headers.emplace_back("Cache-Control", "public, max-age=300");
    reply.headers.emplace_back("Vary", "Host, X-Forwarded-Host, X-Forwarded-Proto");
    return reply;
}

std::optional<HttpReply> Service::OperatorStream(const RoutedRequest& request) {
    std::optional<OperatorStreamRequest> asked;
    try {
        const FormFields& fields = request.Fields();
        asked = ReadOperatorStreamRequest(
            request.http.path, [&fields](const std::string& name) { return fields.Find(name); });
    } catch (const BadRequest&) {
        return std::nullopt;  // the operator's script says what is wrong with the query
    }
    if (!asked) return std::nullopt;
    if (std::shared_ptr<ReplyStream> stream =
            streams_->Operator(asked->company, asked->sessionId)) {
        return StreamReply(std::move(stream), "text/event-stream; charset=windows-1252");
    }
    return UncachedReply(200, OperatorApi::SessionGoneReply(), kOperatorType);
}

HttpReply Service::OperatorScript(const RoutedRequest& request) {
    ConsoleCookie cookie{CookieOf(request.http.Header("cookie"), ConsoleCookie::kName), ""};
    OperatorReply answer;
    try {
        answer = operatorApi_->Answer(request.Fields(), request.client, cookie);
    } catch (const BadRequest& refusal) {
        answer.text = OperatorApi::RefusalReply(refusal.what());
    }
    HttpReply reply = UncachedReply(200, std::move(answer.text), kOperatorType);
    if (answer.lineNotStored) reply.headers.push_back(LineNotStoredHeader());
    if (!cookie.toSet.empty()) {
        reply.headers.emplace_back("Set-Cookie", std::string(ConsoleCookie::kName) + "=" +
                                                     cookie.toSet +
                                                     "; Path=/; HttpOnly; SameSite=Strict");
    }
    return reply;
}

HttpReply Service::OpenConversation(const RoutedRequest& request) {
    if (!IsForm(request.http)) return NotAForm();
    return JsonHttpReply(visitorApi_->Open(request.http.body, request.client));
}

HttpReply Service::SendLine(const RoutedRequest& request) {
    if (!IsForm(request.http)) return NotAForm();
    return JsonHttpReply(visitorApi_->Send(request.Id(), request.http.body, request.client));
}

HttpReply Service::VisitorTyping(const RoutedRequest& request) {
    if (!IsForm(request.http)) return NotAForm();
    return JsonHttpReply(visitorApi_->Typing(request.Id(), request.http.body, request.client));
}

HttpReply Service::EndConversation(const RoutedRequest& request) {
    if (!IsForm(request.http)) return NotAForm();
    return JsonHttpReply(visitorApi_->End(request.Id(), request.http.body));
}

HttpReply Service::RateConversation(const RoutedRequest& request) {
    if (!IsForm(request.http)) return NotAForm();
    return JsonHttpReply(visitorApi_->Rate(request.Id(), request.http.body));
}

HttpReply Service::CompanyFront(const RoutedRequest& request) {
    HttpReply reply = JsonHttpReply(visitorApi_->Company(request.Id(), storage_->companies));
    // The chat button reads the company's public name from pages of other sites; the reply
    // depends on no cookie, and credentials are never allowed.
    reply.headers.emplace_back("Access-Control-Allow-Origin", "*");
    return reply;
}

HttpReply Service::VisitorStream(const RoutedRequest& request) {
    std::shared_ptr<ReplyStream> stream;
    try {
        stream =
            streams_->Visitor(request.Id(), request.Query(), request.http.Header("last-event-id"));
    } catch (const BadRequest&) {
    }
    if (!stream) return JsonHttpReply(VisitorApi::NoConversation());
    return StreamReply(std::move(stream), "text/event-stream; charset=utf-8");
}

HttpReply Service::ReadConversation(const RoutedRequest& request) {
    return JsonHttpReply(visitorApi_->Read(request.Id(), request.Query()));
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

int Service::Bind(const std::string& host, int port) {
    port = server_->Bind(host, port);
    const std::string shownHost = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    listenOrigin_ = "http://" + shownHost + ":" + std::to_string(port);
    return port;
}

void Service::ReopenAccessLog() {
    if (accessLog_) accessLog_->Reopen();
}

int Service::BindMetrics(const std::string& host, int port) {
    metrics_ = std::make_unique<MetricsEndpoint>(
        MetricsEndpoint::Sources{requests_, firstResponses_, *streams_, *storage_, *operatorApi_});
    return metrics_->Bind(host, port);
}

bool Service::Serve(const ServeHooks& hooks) {
    if (metrics_) metrics_->Start();
    const bool served = server_->Serve(hooks);
    if (metrics_) metrics_->Stop();
    return served;
}

bool Service::Serving() const {
    return server_->Serving();
}

void Service::Stop() {
    server_->Stop();
}

}  // namespace tertulia
