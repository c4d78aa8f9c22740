#include "service/metrics_endpoint.h"

#include <exception>
#include <optional>

#include "service/health_check.h"
#include "service/http_replies.h"
#include "service/metrics_page.h"
#include "service/process_metrics.h"
#include "service/service_log.h"

namespace tertulia {

MetricsEndpoint::MetricsEndpoint(Sources sources) : sources_(sources) {
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
    routes.answer = [this](const HttpRequest& request) { return Page(request); };
    server_ = std::make_unique<HttpServer>(std::move(limits), std::move(routes));
}

MetricsEndpoint::~MetricsEndpoint() {
    Stop();
}

int MetricsEndpoint::Bind(const std::string& host, int port) {
    return server_->Bind(host, port);
}

void MetricsEndpoint::Start() {
    thread_ = std::thread([this] {
        if (!server_->Serve())
            LogLine(LogPriority::Error, "no se puede servir la página de métricas");
    });
}

void MetricsEndpoint::Stop() {
    if (!thread_.joinable()) return;
    server_->Stop();
    thread_.join();
}

HttpReply MetricsEndpoint::Page(const HttpRequest& request) {
    if ((request.method != "GET" && request.method != "HEAD") || request.path != "/metrics") {
        return FailureReply(request.path, 404);
    }
    MetricsPage page;
    sources_.requests.Write(page);
    sources_.firstResponses.Write(page);
    ServiceFigures figures;
    const EventStreams::Held held = sources_.streams.Count();
    figures.visitorStreams = held.visitors;
    figures.operatorStreams = held.operators;
    try {
        figures.waitingConversations =
            sources_.storage.conversations.WaitingConversations(kHealthBound);
    } catch (const std::exception&) {
        // Left out of the page: the rest of it still tells what the service sees.
    }
    const OperatorApi::RefusedLogins refused = sources_.operators.Refused();
    figures.refusedCredentials = refused.credentials;
    figures.refusedWaiting = refused.waiting;
    figures.refusedBusy = refused.busy;
    figures.databaseFailures = sources_.storage.database->Failures();
    figures.databaseReconnections = sources_.storage.database->Reconnections();
    WriteServiceFigures(page, figures);
    if (const std::optional<ProcessFigures> process = ReadProcessFigures()) {
        WriteProcessFigures(page, *process);
    }
    return UncachedReply(200, page.Text(), MetricsPage::kContentType);
}

}  // namespace tertulia
