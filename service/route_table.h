#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "service/form_fields.h"
#include "service/http_server.h"

namespace tertulia {

// A request as its routes see it.
class RoutedRequest {
  public:
    RoutedRequest(const HttpRequest& request, std::string address)
        : http(request), client(std::move(address)) {}

    const HttpRequest& http;
    const std::string client;  // the client's address; empty for routes answered at once

    // What the route's "*" segment matched; empty without one.
    const std::string& Id() const { return id_; }
    // The query, still percent-encoded.
    std::string_view Query() const;
    // The query's fields, parsed once for all the routes that the request tries; throws
    // BadRequest, on every call, for a malformed query.
    const FormFields& Fields() const;

  private:
    friend class RouteTable;

    std::string id_;
    mutable std::optional<FormFields> fields_;
    mutable std::optional<std::string> refusal_;
};

// Takes a request, or declines it (nothing) for the next route of its method and path.
using RouteHandler = std::function<std::optional<HttpReply>(const RoutedRequest&)>;

struct Route {
    enum class Method { Get, Post };  // Get takes HEAD as well

    Method method = Method::Get;
    // A "*" segment matches one segment, not empty: an id.
    std::string path = {};
    // Answers on arrival what needs no database; may decline to `answer`.
    RouteHandler atOnce = {};
    // Answers on a worker, and may wait for the database.
    RouteHandler answer = {};
    // The largest body the route takes.
    std::size_t bodyLimit = 0;
    // The name its requests are counted under: the path with "*" as "N" when empty.
    std::string counted = {};
};

// The service's routes, tried in the order they were added.
class RouteTable {
  public:
    void Add(Route route);

    // The answer of the first route that gives one on arrival; nothing to hand the request to
    // a worker.
    std::optional<HttpReply> AnswerAtOnce(const HttpRequest& request) const;
    // The answer of the first route that gives one, on arrival or on a worker; nothing when
    // none does, or none takes the method and path.
    std::optional<HttpReply> Answer(const HttpRequest& request, const std::string& client) const;
    std::size_t BodyLimit(const std::string& method, const std::string& path) const;
    // The name that requests to `path` are counted under, whatever their method: one of a
    // fixed set, never the path as sent.
    std::string_view Counted(const std::string& path) const;

  private:
    std::optional<HttpReply> AnswerAtOnce(RoutedRequest& request) const;
    // The first reply of `handler` of the routes that take the request's method and path.
    std::optional<HttpReply> First(RouteHandler Route::*handler, RoutedRequest& request) const;

    std::vector<Route> routes_;
};

}  // namespace tertulia
