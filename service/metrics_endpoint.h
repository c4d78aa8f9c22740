#pragma once

#include <memory>
#include <string>
#include <thread>

#include "service/event_streams.h"
#include "service/http_server.h"
#include "service/metrics.h"
#include "service/operator_api.h"
#include "service/storage.h"

namespace tertulia {

// The metrics page (Prometheus's text format at /metrics), served on an address of its own
// by a small server of its own, so that scrapes never queue behind the chat's requests.
class MetricsEndpoint {
  public:
    // What the page tells; all outlive the endpoint.
    struct Sources {
        const RequestMetrics& requests;
        const FirstResponseMetrics& firstResponses;
        EventStreams& streams;
        Storage& storage;
        const OperatorApi& operators;
    };

    explicit MetricsEndpoint(Sources sources);
    ~MetricsEndpoint();
    MetricsEndpoint(const MetricsEndpoint&) = delete;
    MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;

    // Binds and listens; port 0 picks a free one. Returns the port, or throws.
    int Bind(const std::string& host, int port);
    // Serves on a thread of its own until Stop.
    void Start();
    void Stop();

  private:
    HttpReply Page(const HttpRequest& request);

    Sources sources_;
    std::unique_ptr<HttpServer> server_;
    std::thread thread_;
};

}  // namespace tertulia
