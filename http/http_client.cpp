#include "http/http_client.h"

#include <chrono>

#include "http/ascii_text.h"
#include "http/body_sink.h"
#include "http/cookie_jar.h"
#include "http/reply_exchange.h"
#include "http/reply_head.h"
#include "http/reply_reader.h"
#include "http/request_head.h"
#include "http/tcp_connection.h"
#include "http/url_parts.h"

namespace tertulia {

namespace {

std::int64_t SystemNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

// The open connection with its input buffer and what it was opened for.
struct HttpClient::Connection {
    Connection(const std::string& host, const std::string& port,
               std::chrono::milliseconds connectTimeout, std::chrono::milliseconds ioTimeout,
               ReplyPace& pace)
        : socket(host, port, connectTimeout, ioTimeout),
          source(socket, pace),
          host(host),
          port(port) {}

    TcpConnection socket;
    PacedSource source;
    ReplyReader reader{source};
    std::string host;
    std::string port;
};

HttpClient::HttpClient() : cookies_(std::make_unique<CookieJar>(SystemNow)) {}

HttpClient::~HttpClient() = default;

void HttpClient::SetClock(std::function<std::int64_t()> now) {
    cookies_->SetClock(std::move(now));
}

std::string HttpClient::GetText(const std::string& url) {
    TextSink body(maxTextSize_);
    Request(url, body);
    return std::move(body.Text());
}

void HttpClient::GetToStream(const std::string& url, Stream& stream) {
    StreamSink body(stream);
    Request(url, body);
}

void HttpClient::CloseConnection() {
    connection_.reset();
    lastReplyAllowsKeepAlive_ = false;
}

void HttpClient::ChooseConnection(const std::string& host, const std::string& port) {
    if (connection_ && (!EqualsIgnoringCase(connection_->host, host) || connection_->port != port))
        CloseConnection();
    if (!lastReplyAllowsKeepAlive_) CloseConnection();
    if (connection_ && connection_->socket.PeerHasClosed()) CloseConnection();
    if (!connection_)
        connection_ =
            std::make_unique<Connection>(host, port, connectTimeout_, readTimeout_, pace_);
    connection_->socket.SetIoTimeout(readTimeout_);
}

void HttpClient::Request(const std::string& url, BodySink& target) {
    const UrlParts parts = SplitUrl(url);
    ChooseConnection(parts.host, parts.port);

    const WorkHandlers handlers{OnWorkBegin, OnWork, OnWorkEnd};
    const ReplyContext context{*cookies_, parts.host, maxTextSize_, {progress_, handlers}, pace_};
    ReplyHead head;
    // Until a reply has been read through, the connection cannot carry another request.
    lastReplyAllowsKeepAlive_ = false;
    try {
        connection_->socket.Send(
            BuildRequestHead(parts, cookies_->CookieHeader(parts.host, parts.target)));
        pace_.StartHead();
        ReadReply(connection_->reader, context, target, head);
    } catch (const HttpProtocolError&) {
        lastReplyAllowsKeepAlive_ = !connection_->reader.PeerClosed() && !head.AsksToClose();
        if (!lastReplyAllowsKeepAlive_) CloseConnection();
        throw;
    } catch (...) {
        CloseConnection();
        throw;
    }
    lastReplyAllowsKeepAlive_ = !connection_->reader.PeerClosed() && !head.AsksToClose();
    if (!lastReplyAllowsKeepAlive_) CloseConnection();
}

}  // namespace tertulia
