#include "service/service.h"

#include <httplib.h>
#include <sys/socket.h>

#include <chrono>
#include <stdexcept>

#include "service/form_fields.h"
#include "service/operator_api.h"
#include "service/visitor_api.h"
#include "service/visitor_page.h"

namespace tertulia {

namespace {

// A kept-alive connection holds its thread until it goes quiet, and browsers and consoles keep
// their connections alive between polls, so there is a thread for every client of a busy company.
constexpr std::size_t kThreads = 512;
constexpr std::size_t kMaxBody = 64 * 1024;

const char* const kOperatorType = "text/plain; charset=windows-1252";
const char* const kJsonType = "application/json; charset=utf-8";

std::int64_t SystemClock() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The Host header when it is a plain host name or address with an optional port.
bool UsableHost(const std::string& host) {
    if (host.empty() || host.size() > 255) return false;
    for (const char c : host) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '.' || c == '-' || c == ':' || c == '[' ||
                        c == ']';
        if (!ok) return false;
    }
    return true;
}

bool IsForm(const httplib::Request& request) {
    const std::string type = request.get_header_value("Content-Type");
    return type.starts_with("application/x-www-form-urlencoded");
}

void SendJson(httplib::Response& response, const JsonReply& reply) {
    response.status = reply.status;
    response.set_header("Cache-Control", "no-store");
    response.set_content(reply.body, kJsonType);
}

}  // namespace

Service::Service(ServiceConfig config)
    : storage_(std::make_unique<Storage>(config.databasePath,
                                         config.clock ? config.clock : Clock(SystemClock))),
      update_(std::move(config.update)),
      server_(std::make_unique<httplib::Server>()) {
    server_->new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    server_->set_payload_max_length(kMaxBody);
    server_->set_keep_alive_max_count(1000);
    // Replies go out in more than one write; without this, delayed acknowledgements stall them.
    server_->set_tcp_nodelay(true);
    server_->set_default_headers({{"X-Content-Type-Options", "nosniff"}});
    // Plain address reuse: the library's default shares the port with any other process that
    // asks, so a second service on a busy port would quietly take half of its requests.
    server_->set_socket_options([this](int socket) {
        const int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        listenSocket_ = socket;
    });
    Route();
}

Service::~Service() = default;

void Service::Route() {
    auto operatorApi = std::make_shared<OperatorApi>(*storage_);
    auto visitorApi = std::make_shared<VisitorApi>(*storage_);
    auto updateApi = std::make_shared<UpdateApi>(update_);

    server_->Get("/tertulia.php", [operatorApi](const httplib::Request& request,
                                                httplib::Response& response) {
        response.set_header("Cache-Control", "no-store");
        response.set_content(operatorApi->Answer(QueryOfTarget(request.target)), kOperatorType);
    });

    server_->Get("/gl/chkupdate.php",
                 [this, updateApi](const httplib::Request& request, httplib::Response& response) {
                     const std::string host = request.get_header_value("Host");
                     const std::string origin = UsableHost(host) ? "http://" + host : listenOrigin_;
                     response.set_header("Cache-Control", "no-store");
                     response.set_content(updateApi->Check(QueryOfTarget(request.target), origin),
                                          kOperatorType);
                 });

    if (update_) {
        const std::shared_ptr<const std::string> bytes = update_->bytes;
        std::string pattern;
        for (const char c : update_->DownloadPath()) {
            if (c == '.') pattern += '\\';
            pattern += c;
        }
        server_->Get(pattern, [bytes](const httplib::Request&, httplib::Response& response) {
            response.set_content_provider(
                bytes->size(), "application/octet-stream",
                [bytes](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                    return sink.write(bytes->data() + offset, length);
                });
        });
    }

    server_->Get("/", [](const httplib::Request&, httplib::Response& response) {
        response.set_header("Content-Security-Policy", std::string(VisitorPagePolicy()));
        response.set_header("Cache-Control", "no-cache");
        response.set_content(std::string(VisitorPage()), "text/html; charset=utf-8");
    });

    server_->Post("/api/conversaciones", [visitorApi](const httplib::Request& request,
                                                      httplib::Response& response) {
        if (!IsForm(request)) {
            SendJson(response, {415, R"({"error":"Se esperan campos de formulario."})"});
            return;
        }
        SendJson(response, visitorApi->Open(request.body));
    });

    server_->Post(
        R"(/api/conversaciones/([^/]+)/mensajes)",
        [visitorApi](const httplib::Request& request, httplib::Response& response) {
            if (!IsForm(request)) {
                SendJson(response, {415, R"({"error":"Se esperan campos de formulario."})"});
                return;
            }
            SendJson(response, visitorApi->Send(request.matches[1].str(), request.body));
        });

    server_->Get(R"(/api/conversaciones/([^/]+))",
                 [visitorApi](const httplib::Request& request, httplib::Response& response) {
                     SendJson(response, visitorApi->Read(request.matches[1].str(),
                                                         QueryOfTarget(request.target)));
                 });

    server_->set_error_handler([](const httplib::Request& request, httplib::Response& response) {
        if (!response.body.empty()) return;
        if (request.path.starts_with("/api/")) {
            SendJson(response, {response.status, R"({"error":"Petición no válida."})"});
        } else {
            response.set_content("Error " + std::to_string(response.status) + "\n",
                                 "text/plain; charset=utf-8");
        }
    });
}

int Service::Bind(const std::string& host, int port) {
    const bool bound = port == 0 ? (port = server_->bind_to_any_port(host)) > 0
                                 : server_->bind_to_port(host, port);
    if (!bound) {
        throw std::runtime_error("no se puede escuchar en " + host + ":" + std::to_string(port));
    }
    // The library listens with a backlog of 5; hundreds of clients connecting at once would
    // have their connections dropped and retried a second later.
    ::listen(listenSocket_, SOMAXCONN);
    const std::string shownHost = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    listenOrigin_ = "http://" + shownHost + ":" + std::to_string(port);
    return port;
}

bool Service::Serve() {
    return server_->listen_after_bind();
}

bool Service::Serving() const {
    return server_->is_running();
}

void Service::Stop() {
    server_->stop();
}

}  // namespace tertulia
