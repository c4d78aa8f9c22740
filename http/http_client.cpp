#include "http/http_client.h"

#include <chrono>

#include "http/ascii_text.h"
#include "http/body_sink.h"
#include "http/cookie_jar.h"
#include "http/input_buffer.h"
#include "http/reply_exchange.h"
#include "http/reply_head.h"
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
    Connection(std::unique_ptr<Transport> opened, const UrlParts& url, ReplyPace& pace)
        : transport(std::move(opened)),
          source(*transport, pace),
          secure(IsHttps(url)),
          host(url.host),
          port(url.port) {}

    std::unique_ptr<Transport> transport;
    PacedSource source;
    InputBuffer reader{source};
    bool secure;
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

void HttpClient::ChooseConnection(const UrlParts& url) {
    if (connection_ && (!EqualsIgnoringCase(connection_->host, url.host) ||
                        connection_->port != url.port || connection_->secure != IsHttps(url)))
        CloseConnection();
    if (!lastReplyAllowsKeepAlive_) CloseConnection();
    if (connection_ && connection_->transport->PeerHasClosed()) CloseConnection();
    if (!connection_) {
        const auto deadline = std::chrono::steady_clock::now() + connectTimeout_;
        auto socket =
            std::make_unique<TcpConnection>(url.host, url.port, connectTimeout_, readTimeout_);
        std::unique_ptr<Transport> transport =
            IsHttps(url) ? secure_(std::move(socket), url.host, deadline) : std::move(socket);
        connection_ = std::make_unique<Connection>(std::move(transport), url, pace_);
    }
    connection_->transport->SetIoTimeout(readTimeout_);
}

void HttpClient::Request(const std::string& url, BodySink& target) {
    lastHead_ = {};
    const UrlParts parts = SplitUrl(url, static_cast<bool>(secure_));
    ChooseConnection(parts);

    const WorkHandlers handlers{OnWorkBegin, OnWork, OnWorkEnd};
    const ReplyContext context{*cookies_, parts.host, maxTextSize_, {progress_, handlers}, pace_};
    ReplyHead head;
    // Until a reply has been read through, the connection cannot carry another request.
    lastReplyAllowsKeepAlive_ = false;
    try {
        connection_->transport->Send(BuildRequestHead(
            parts, cookies_->CookieHeader(parts.host, parts.target, connection_->secure)));
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
    lastHead_ = std::move(head);
}

}  // namespace tertulia
