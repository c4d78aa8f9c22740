#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "service/access_log.h"
#include "service/event_streams.h"
#include "service/framing_sites.h"
#include "service/http_server.h"
#include "service/metrics.h"
#include "service/metrics_endpoint.h"
#include "service/operator_api.h"
#include "service/retention_loop.h"
#include "service/route_table.h"
#include "service/storage.h"
#include "service/update_api.h"
#include "service/visitor_api.h"

namespace tertulia {

struct ServiceConfig {
    std::unique_ptr<Storage> storage;
    std::optional<UpdateOffer> update;
    Clock clock;  // the system clock when empty
    HttpLimits http;
    VisitorLimits visitors;
    // Proxies whose X-Forwarded-For names the client; their own connections are not limited
    // per address.
    std::set<std::string> trustedProxies;
    std::string accessLog;   // a file to append to, "-" for standard output, empty for none
    unsigned keepDays = 30;  // closed conversations kept this long; 0: for ever
};

// The stand-in chat service: the service script, the update script and its download, the
// visitor page and the visitors' JSON API, over one database.
class Service {
  public:
    explicit Service(ServiceConfig config);
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    Storage& storage() { return *storage_; }

    // Binds the listening socket; port 0 picks a free one. Returns the port, or throws.
    int Bind(const std::string& host, int port);
    // Binds an address of its own for the metrics page (Prometheus's text format at
    // /metrics), which Serve then serves as well; as Bind.
    int BindMetrics(const std::string& host, int port);
    // Serves until Stop; returns false when serving failed.
    bool Serve(const ServeHooks& hooks = {});
    // True once Serve has started accepting connections and until it stops.
    bool Serving() const;
    // Ends a running Serve, or the next one; safe from any thread.
    void Stop();
    // Opens the access log file again by its name, for a log rotation that renamed it; from
    // any thread.
    void ReopenAccessLog();

  private:
    // Every route the service answers, in the order they are tried.
    void AddRoutes();
    HttpReply Answer(const HttpRequest& request);
    std::optional<HttpReply> AnswerAtOnce(const HttpRequest& request);

    std::optional<HttpReply> UpdateCheck(const RoutedRequest& request);
    // The visitor page of a company, answered on arrival when it has no company, or while the
    // database stalls with the sites last read.
    std::optional<HttpReply> CompanyPageAtOnce(const RoutedRequest& request);
    HttpReply CompanyPage(const RoutedRequest& request);
    HttpReply ChatWidget(const RoutedRequest& request);
    // The operator's event stream, when the request asks for it.
    std::optional<HttpReply> OperatorStream(const RoutedRequest& request);
    HttpReply OperatorScript(const RoutedRequest& request);
    HttpReply OpenConversation(const RoutedRequest& request);
    HttpReply SendLine(const RoutedRequest& request);
    HttpReply VisitorTyping(const RoutedRequest& request);
    HttpReply EndConversation(const RoutedRequest& request);
    HttpReply RateConversation(const RoutedRequest& request);
    HttpReply CompanyFront(const RoutedRequest& request);
    HttpReply VisitorStream(const RoutedRequest& request);
    HttpReply ReadConversation(const RoutedRequest& request);
    // Logs a request the database left unanswered: the first at once, the others counted into
    // one line a minute, so that an outage does not flood the log.
    void LogUnavailable(const std::string& route, const std::string& cause);

    std::unique_ptr<Storage> storage_;
    std::optional<UpdateOffer> update_;
    std::set<std::string> trustedProxies_;
    std::unique_ptr<OperatorApi> operatorApi_;
    std::unique_ptr<VisitorApi> visitorApi_;
    std::unique_ptr<UpdateApi> updateApi_;
    std::unique_ptr<RetentionLoop> retention_;
    std::unique_ptr<EventStreams> streams_;
    std::unique_ptr<AccessLog> accessLog_;
    std::mutex unavailableMutex_;
    std::optional<std::chrono::steady_clock::time_point> unavailableLogged_;
    unsigned unavailableUnlogged_ = 0;
    FramingSites framingSites_;
    // Since a request found the database not answering, and until one is answered again.
    std::atomic<bool> databaseStalled_ = false;
    RequestMetrics requests_;
    RouteTable routes_;
    std::unique_ptr<HttpServer> server_;
    std::unique_ptr<MetricsEndpoint> metrics_;
    std::string listenOrigin_;
};

}  // namespace tertulia
