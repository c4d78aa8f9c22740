#include "service/route_table.h"

#include "service/bad_request.h"

namespace tertulia {

namespace {

bool Takes(Route::Method method, const std::string& requested) {
    if (method == Route::Method::Post) return requested == "POST";
    return requested == "GET" || requested == "HEAD";
}

// What the "*" segment of `pattern` matched in `path`, empty when it has none; nothing when
// `path` is not one of the pattern's.
std::optional<std::string> Match(std::string_view pattern, std::string_view path) {
    std::string id;
    for (;;) {
        const std::size_t patternEnd = pattern.find('/');
        const std::size_t pathEnd = path.find('/');
        const std::string_view wanted = pattern.substr(0, patternEnd);
        const std::string_view segment = path.substr(0, pathEnd);
        if (wanted == "*") {
            if (segment.empty()) return std::nullopt;
            id = segment;
        } else if (wanted != segment) {
            return std::nullopt;
        }
        if (patternEnd == std::string_view::npos || pathEnd == std::string_view::npos) {
            if (patternEnd != pathEnd) return std::nullopt;
            return id;
        }
        pattern.remove_prefix(patternEnd + 1);
        path.remove_prefix(pathEnd + 1);
    }
}

std::string CountedName(const Route& route) {
    if (!route.counted.empty()) return route.counted;
    std::string name = route.path;
    for (std::size_t star = name.find('*'); star != std::string::npos; star = name.find('*')) {
        name[star] = 'N';
    }
    return name;
}

}  // namespace

std::string_view RoutedRequest::Query() const {
    return QueryOfTarget(http.target);
}

const FormFields& RoutedRequest::Fields() const {
    if (!fields_ && !refusal_) {
        try {
            fields_ = FormFields::Parse(Query());
        } catch (const BadRequest& refusal) {
            refusal_ = refusal.what();
        }
    }
    if (refusal_) throw BadRequest(*refusal_);
    return *fields_;
}

void RouteTable::Add(Route route) {
    route.counted = CountedName(route);
    routes_.push_back(std::move(route));
}

std::optional<HttpReply> RouteTable::First(RouteHandler Route::*handler,
                                           RoutedRequest& request) const {
    for (const Route& route : routes_) {
        if (!(route.*handler) || !Takes(route.method, request.http.method)) continue;
        std::optional<std::string> id = Match(route.path, request.http.path);
        if (!id) continue;
        request.id_ = std::move(*id);
        if (std::optional<HttpReply> reply = (route.*handler)(request)) return reply;
    }
    return std::nullopt;
}

std::optional<HttpReply> RouteTable::AnswerAtOnce(const HttpRequest& request) const {
    RoutedRequest routed(request, "");
    return AnswerAtOnce(routed);
}

std::optional<HttpReply> RouteTable::AnswerAtOnce(RoutedRequest& request) const {
    return First(&Route::atOnce, request);
}

std::optional<HttpReply> RouteTable::Answer(const HttpRequest& request,
                                            const std::string& client) const {
    RoutedRequest routed(request, client);
    // Routes answered at once are tried before the others, as a request may reach a worker
    // without passing through AnswerAtOnce.
    if (std::optional<HttpReply> reply = AnswerAtOnce(routed)) return reply;
    return First(&Route::answer, routed);
}

std::size_t RouteTable::BodyLimit(const std::string& method, const std::string& path) const {
    for (const Route& route : routes_) {
        if (Takes(route.method, method) && Match(route.path, path)) return route.bodyLimit;
    }
    return 0;
}

std::string_view RouteTable::Counted(const std::string& path) const {
    for (const Route& route : routes_) {
        if (Match(route.path, path)) return route.counted;
    }
    return "otra";
}

}  // namespace tertulia
